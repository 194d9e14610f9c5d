// SPDX-License-Identifier: GPL-3.0-or-later
#include "uart/TracingPortIo.h"

#include "uart/RecordingPortIo.h"
#include "uart/Registers.h"

namespace uart {
namespace {

void Print(std::FILE* out, const PortAccess& access) {
    std::fprintf(out, "%s\n", FormatAccess(access).c_str());
    std::fflush(out);
}

}  // namespace

void TracingPortIo::Out(std::uint16_t port, std::uint8_t value) {
    inner_.Out(port, value);
    Print(out_, OutAccess(port, value));
}

std::uint8_t TracingPortIo::In(std::uint16_t port) {
    const std::uint8_t value = inner_.In(port);
    Print(out_, InAccess(port, value));
    return value;
}

std::string TracingPortIo::TakeNotice() {
    std::string own = PortIo::TakeNotice();
    std::string inner = inner_.TakeNotice();
    return own.empty() ? inner : inner.empty() ? own : own + "; " + inner;
}

bool TracingPortIo::TakeFailure() {
    const bool own = PortIo::TakeFailure();
    return inner_.TakeFailure() || own;
}

std::optional<LineState> TracingPortIo::ReadLineState(std::int32_t base) {
    if (!inner_.LookShowsRate())
        return PortIo::ReadLineState(base);
    const std::optional<LineState> state = inner_.ReadLineState(base);
    if (state) {
        Print(out_, InAccess(static_cast<std::uint16_t>(base + kLineControl), state->lineControl));
        Print(out_,
              InAccess(static_cast<std::uint16_t>(base + kModemControl), state->modemControl));
    }
    return state;
}

}  // namespace uart
