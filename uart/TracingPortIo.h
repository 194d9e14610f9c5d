// SPDX-License-Identifier: GPL-3.0-or-later
// Wraps another backend and prints one line per access, in order, as it happens.
#pragma once

#include <cstdio>

#include "uart/PortIo.h"

namespace uart {

class TracingPortIo final : public PortIo {
  public:
    TracingPortIo(PortIo& inner, std::FILE* out) : inner_(inner), out_(out) {}

    void Out(std::uint16_t port, std::uint8_t value) override;
    std::uint8_t In(std::uint16_t port) override;
    std::string Label(std::int32_t base) const override { return inner_.Label(base); }
    std::string TakeNotice() override { return inner_.TakeNotice(); }
    bool TakeFailure() override { return inner_.TakeFailure(); }
    std::optional<double> TakeSubstituteRate() override { return inner_.TakeSubstituteRate(); }
    // The inner backend's look, printed as the two reads it stands for.
    std::optional<LineState> ReadLineState(std::int32_t base) override;
    bool LookShowsRate() const override { return inner_.LookShowsRate(); }
    std::string ModemLinesAtExit() override { return inner_.ModemLinesAtExit(); }

  private:
    PortIo& inner_;
    std::FILE* out_;
};

}  // namespace uart
