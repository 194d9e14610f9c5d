// SPDX-License-Identifier: GPL-3.0-or-later
// A backend that remembers every access in order and answers reads from a table it is given.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "uart/PortIo.h"

namespace uart {

struct PortAccess {
    enum class Kind { In, Out };
    Kind kind;
    std::uint16_t port;
    std::uint8_t value;  // written, or read

    friend bool operator==(const PortAccess&, const PortAccess&) = default;
};

// `out 0x2FB 0x80` / `in 0x2FC 0x08`: the form --trace prints.
std::string FormatAccess(const PortAccess& access);

inline PortAccess OutAccess(std::uint16_t port, std::uint8_t value) {
    return {PortAccess::Kind::Out, port, value};
}
inline PortAccess InAccess(std::uint16_t port, std::uint8_t value) {
    return {PortAccess::Kind::In, port, value};
}

class RecordingPortIo final : public PortIo {
  public:
    void Out(std::uint16_t port, std::uint8_t value) override;
    std::uint8_t In(std::uint16_t port) override;
    std::string Label(std::int32_t base) const override { return PortLabel(base, "recorded"); }

    // What a read of `port` returns; unset ports read 0xFF.
    void SetReadValue(std::uint16_t port, std::uint8_t value) { readValues_[port] = value; }

    const std::vector<PortAccess>& Accesses() const { return accesses_; }
    void Clear() { accesses_.clear(); }

  private:
    std::vector<PortAccess> accesses_;
    std::map<std::uint16_t, std::uint8_t> readValues_;
};

}  // namespace uart
