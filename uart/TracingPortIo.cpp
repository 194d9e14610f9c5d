// SPDX-License-Identifier: GPL-3.0-or-later
#include "uart/TracingPortIo.h"

#include "uart/Registers.h"

namespace uart {

void TracingPortIo::Print(const PortAccess& access) {
    if (holding_) {
        held_.push_back(access);
        return;
    }
    if (std::ferror(out_))
        return;  // a reader that went away is written to no more
    std::fprintf(out_, "%s\n", FormatAccess(access).c_str());
    std::fflush(out_);
}

void TracingPortIo::Out(std::uint16_t port, std::uint8_t value) {
    inner_.Out(port, value);
    if (port == lineControl_ && (value & kLcrDlab) != 0)
        holding_ = true;
    Print(OutAccess(port, value));
}

void TracingPortIo::ChangeDone() {
    inner_.ChangeDone();
    holding_ = false;
    std::vector<PortAccess> held;
    held.swap(held_);
    for (const PortAccess& access : held)
        Print(access);
}

std::uint8_t TracingPortIo::In(std::uint16_t port) {
    const std::uint8_t value = inner_.In(port);
    Print(InAccess(port, value));
    return value;
}

LineOutcome TracingPortIo::TakeOutcome() {
    LineOutcome own = PortIo::TakeOutcome();
    own.Add(TakeOutcomeOf(inner_));
    return own;
}

std::optional<LineState> TracingPortIo::ReadLineState(std::int32_t base) {
    if (!inner_.LookShowsRate())
        return PortIo::ReadLineState(base);
    const std::optional<LineState> state = inner_.ReadLineState(base);
    if (state) {
        Print(InAccess(static_cast<std::uint16_t>(base + kLineControl), state->lineControl));
        Print(InAccess(static_cast<std::uint16_t>(base + kModemControl), state->modemControl));
    }
    return state;
}

}  // namespace uart
