// SPDX-License-Identifier: GPL-3.0-or-later
// Wraps another backend and prints one line per access, in order, as it happens; the accesses
// of a change that opens the divisor latch are printed once the change is done and the process
// takes signals again, so that output that cannot go on (a stopped terminal, a closed pipe)
// never holds the latch open, nor keeps a stop signal waiting.
#pragma once

#include <cstdio>
#include <vector>

#include "uart/PortIo.h"
#include "uart/RecordingPortIo.h"
#include "uart/Registers.h"

namespace uart {

class TracingPortIo final : public PortIo {
  public:
    // Traces the UART at `base`.
    TracingPortIo(PortIo& inner, std::FILE* out, std::int32_t base)
        : inner_(inner), out_(out), lineControl_(static_cast<std::uint16_t>(base + kLineControl)) {}

    void Out(std::uint16_t port, std::uint8_t value) override;
    std::uint8_t In(std::uint16_t port) override;
    std::string Label(std::int32_t base) const override { return inner_.Label(base); }
    LineOutcome CannotSend(const Framing& framing) const override {
        return inner_.CannotSend(framing);
    }
    // A look that is two register reads (a backend whose look cannot show the rate) is made
    // here, through In, so that each read is printed as it happens, a failed look's too; another
    // backend's look is printed as the two reads it stands for.
    std::optional<LineState> ReadLineState(std::int32_t base) override;
    bool LookShowsRate() const override { return inner_.LookShowsRate(); }
    std::string ModemLinesAtExit() override { return inner_.ModemLinesAtExit(); }
    std::string HoldKey(std::int32_t base) override { return inner_.HoldKey(base); }
    bool MayFindNoUart() const override { return inner_.MayFindNoUart(); }
    void ChangeDone() override;

  private:
    // What a look made here found, then what the inner backend has to say.
    LineOutcome TakeOutcome() override;
    void Print(const PortAccess& access);

    PortIo& inner_;
    std::FILE* out_;
    std::uint16_t lineControl_;
    std::vector<PortAccess> held_;  // from the latch's opening to the end of its change
    bool holding_ = false;
};

}  // namespace uart
