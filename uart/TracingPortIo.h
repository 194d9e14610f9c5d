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
    // What a look made here found, then what the inner backend has to say.
    std::string TakeNotice() override;
    bool TakeFailure() override;
    std::optional<SubstituteRate> TakeSubstituteRate() override {
        return inner_.TakeSubstituteRate();
    }
    std::string CannotSend(const Framing& framing) const override {
        return inner_.CannotSend(framing);
    }
    // A look that is two register reads (a backend whose look cannot show the rate) is made
    // here, through In, so that each read is printed as it happens, a failed look's too; another
    // backend's look is printed as the two reads it stands for.
    std::optional<LineState> ReadLineState(std::int32_t base) override;
    bool LookShowsRate() const override { return inner_.LookShowsRate(); }
    std::string ModemLinesAtExit() override { return inner_.ModemLinesAtExit(); }

  private:
    PortIo& inner_;
    std::FILE* out_;
};

}  // namespace uart
