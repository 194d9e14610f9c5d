// SPDX-License-Identifier: GPL-3.0-or-later
#include "uart/PortIo.h"

#include <cstdio>

#include "uart/Registers.h"

namespace uart {
namespace {

// Writes go nowhere and reads see a floating bus.
class InertPortIo final : public PortIo {
  public:
    void Out(std::uint16_t, std::uint8_t) override {}
    std::uint8_t In(std::uint16_t) override { return 0xFF; }
};

InertPortIo inertPortIo;
PortIo* current = &inertPortIo;

}  // namespace

std::string PortLabel(std::int32_t base, const char* kind) {
    char text[64];
    std::snprintf(text, sizeof text, "0x%X \u00B7 %s", static_cast<unsigned>(base), kind);
    return text;
}

std::string PortIo::Label(std::int32_t base) const {
    return PortLabel(base, "I/O ports");
}

std::optional<LineState> PortIo::ReadLineState(std::int32_t base) {
    LineState state;
    state.lineControl = In(static_cast<std::uint16_t>(base + kLineControl));
    state.modemControl = In(static_cast<std::uint16_t>(base + kModemControl));
    return state;
}

PortIo& ThePortIo() {
    return *current;
}

PortIo* InstallPortIo(PortIo* io) {
    PortIo* previous = current;
    current = io != nullptr ? io : &inertPortIo;
    return previous == &inertPortIo ? nullptr : previous;
}

}  // namespace uart
