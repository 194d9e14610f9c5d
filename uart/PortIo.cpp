// SPDX-License-Identifier: GPL-3.0-or-later
#include "uart/PortIo.h"

#include <cstdio>
#include <utility>

#include "os/CLocale.h"
#include "uart/Registers.h"

namespace uart {
using os::FormatC;

namespace {

// Writes go nowhere and reads see a floating bus.
class InertPortIo final : public PortIo {
  public:
    void Out(std::uint16_t, std::uint8_t) override {}
    std::uint8_t In(std::uint16_t) override { return kEmptyBus; }
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

LineOutcome PortIo::TakeOutcome() {
    return std::exchange(said_, {});
}

void PortIo::Say(std::string text, bool failure) {
    LineOutcome said;
    said.notice = std::move(text);
    said.failed = failure;
    Say(std::move(said));
}

void PortIo::Say(LineOutcome said) {
    said_.Add(std::move(said));
}

std::optional<LineState> PortIo::ReadLineState(std::int32_t base) {
    LineState state;
    state.lineControl = In(static_cast<std::uint16_t>(base + kLineControl));
    state.modemControl = In(static_cast<std::uint16_t>(base + kModemControl));
    if (NoUartAnswers(base, state.modemControl))
        return std::nullopt;
    return state;
}

std::string PortIo::HoldKey(std::int32_t base) {
    return FormatC("0x%X", static_cast<unsigned>(base));
}

bool PortIo::NoUartAnswers(std::int32_t base, std::uint8_t modemControl) {
    if (!IsEmptyBus(modemControl))
        return false;
    Say(FormatC("no UART answers at 0x%X (its modem control register reads 0x%02X)",
                static_cast<unsigned>(base), modemControl),
        true);
    return true;
}

bool IsEmptyBus(std::uint8_t modemControl) {
    return (modemControl & kMcrUnused) == kMcrUnused;
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
