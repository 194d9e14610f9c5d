// SPDX-License-Identifier: GPL-3.0-or-later
#include "uart/SimulatedUart.h"

#include "os/CLocale.h"
#include "uart/LineSettings.h"
#include "uart/Registers.h"

namespace uart {
using os::FormatC;

std::string Describe(const UartView& view) {
    return FormatC("%u (%.2f Bd) %s%s DTR%c RTS%c OUT1%c OUT2%c LOOP%c", view.divisor, view.rate,
                   view.framing.Compact().c_str(), view.breakOn ? " BREAK" : "",
                   view.dtr ? '+' : '-', view.rts ? '+' : '-', view.out1 ? '+' : '-',
                   view.out2 ? '+' : '-', view.loop ? '+' : '-');
}

SimulatedUart::SimulatedUart(std::uint16_t base) : image_(base, 12, kMcrOut2) {}

void SimulatedUart::Out(std::uint16_t port, std::uint8_t value) {
    const Reg reg = image_.Decode(port);
    if (reg == Reg::Data)
        ++transmitted_;
    image_.Store(reg, value);
}

std::uint8_t SimulatedUart::In(std::uint16_t port) {
    const Reg reg = image_.Decode(port);
    return reg == Reg::ModemStatus ? ModemStatus() : image_.Load(reg);
}

std::uint8_t SimulatedUart::ModemStatus() const {
    const std::uint8_t mcr = image_.ModemControl();
    if ((mcr & kMcrLoop) == 0)
        return kMsrCts | kMsrDsr | kMsrDcd;
    // Loop-back wires the modem outputs to the inputs.
    std::uint8_t msr = 0;
    if (mcr & kMcrRts)
        msr |= kMsrCts;
    if (mcr & kMcrDtr)
        msr |= kMsrDsr;
    if (mcr & kMcrOut1)
        msr |= kMsrRi;
    if (mcr & kMcrOut2)
        msr |= kMsrDcd;
    return msr;
}

std::optional<LineState> SimulatedUart::ReadLineState(std::int32_t) {
    LineState state;
    state.lineControl = image_.LineControl();
    state.modemControl = image_.ModemControl();
    if (image_.Divisor() != 0)
        state.rate = RateOfDivisor(image_.Divisor());
    return state;
}

void SimulatedUart::DriverSetsLine(double rate, const Framing& framing) {
    const std::uint16_t divisor = DivisorForRate(rate);
    image_.Store(Reg::DivisorLow, static_cast<std::uint8_t>(divisor & 0xFF));
    image_.Store(Reg::DivisorHigh, static_cast<std::uint8_t>(divisor >> 8));
    image_.Store(Reg::LineControl, framing.LineControl());
}

void SimulatedUart::DriverSetsModemControl(std::uint8_t modemControl) {
    image_.Store(Reg::ModemControl, modemControl);
}

UartView SimulatedUart::View() const {
    const std::uint8_t lcr = image_.LineControl();
    const std::uint8_t mcr = image_.ModemControl();
    UartView view{};
    view.divisor = image_.Divisor();
    view.rate = RateOfDivisor(view.divisor);
    view.framing = Framing::FromLineControl(lcr);
    view.breakOn = (lcr & kLcrBreak) != 0;
    view.dtr = (mcr & kMcrDtr) != 0;
    view.rts = (mcr & kMcrRts) != 0;
    view.out1 = (mcr & kMcrOut1) != 0;
    view.out2 = (mcr & kMcrOut2) != 0;
    view.loop = (mcr & kMcrLoop) != 0;
    return view;
}

}  // namespace uart
