// SPDX-License-Identifier: GPL-3.0-or-later
// A 16550 in software: the eight registers at a base address, with the divisor latch behind
// LCR.DLAB, for trying the program without hardware and for tests.
#pragma once

#include <cstdint>
#include <string>

#include "uart/Framing.h"
#include "uart/PortIo.h"
#include "uart/RegisterImage.h"

namespace uart {

// What the registers mean for the line.
struct UartView {
    std::uint16_t divisor;
    // kDivisorBase / divisor. Divisor 0 produces no defined rate (the data sheet leaves it
    // undefined and emulators ignore it), so it reads as 0 here.
    double rate;
    Framing framing;
    bool breakOn;
    bool dtr, rts, out1, out2, loop;
};

// A one-line description, e.g. "2534 (45.46 Bd) 5N1.5 DTR- RTS- OUT1- OUT2+ LOOP-".
std::string Describe(const UartView& view);

class SimulatedUart final : public PortIo {
  public:
    explicit SimulatedUart(std::uint16_t base);

    void Out(std::uint16_t port, std::uint8_t value) override;
    std::uint8_t In(std::uint16_t port) override;
    std::string Label(std::int32_t base) const override { return PortLabel(base, "simulated"); }
    std::string HoldKey(std::int32_t) override { return {}; }  // this process's own

    // Its registers as they stand, the rate included: the simulator sees its divisor without
    // opening the latch.
    std::optional<LineState> ReadLineState(std::int32_t base) override;
    bool LookShowsRate() const override { return true; }

    // For tests, the terminal program's driver rewriting the UART behind this program's back:
    // the divisor for `rate` and the framing's line control byte, the latch closed...
    void DriverSetsLine(double rate, const Framing& framing);
    // ...and the modem control register.
    void DriverSetsModemControl(std::uint8_t modemControl);

    UartView View() const;
    std::uint16_t Base() const { return image_.Base(); }
    std::uint8_t LineControl() const { return image_.LineControl(); }
    std::uint8_t ModemControl() const { return image_.ModemControl(); }
    std::uint16_t Divisor() const { return image_.Divisor(); }
    // Bytes written to the transmitter; this program never writes any.
    unsigned TransmittedBytes() const { return transmitted_; }

  private:
    std::uint8_t ModemStatus() const;

    // Power-up values as common UART emulators have them: 9600 Bd, OUT2.
    RegisterImage image_;
    unsigned transmitted_ = 0;
};

}  // namespace uart
