// A 16550 in software: the eight registers at a base address, with the divisor latch behind
// LCR.DLAB, for trying the program without hardware and for tests.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "uart/PortIo.h"

namespace uart {

enum class Parity { None, Odd, Even, Mark, Space };
const char* ParityName(Parity parity);

// What the registers mean for the line.
struct UartView {
    std::uint16_t divisor;
    // kDivisorBase / divisor. Divisor 0 produces no defined rate (the data sheet leaves it
    // undefined and emulators ignore it), so it reads as 0 here.
    double rate;
    int dataBits;  // 5..8
    Parity parity;
    double stopBits;  // 1; 1.5 with five-bit words; 2
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

    UartView View() const;
    std::uint16_t Base() const { return base_; }
    std::uint8_t LineControl() const { return lcr_; }
    std::uint8_t ModemControl() const { return mcr_; }
    std::uint16_t Divisor() const { return static_cast<std::uint16_t>(dlm_ << 8 | dll_); }
    // Bytes written to the transmitter; this program never writes any.
    unsigned TransmittedBytes() const { return transmitted_; }

  private:
    bool LatchOpen() const;

    std::uint16_t base_;
    // Power-up values as common UART emulators have them.
    std::uint8_t dll_ = 12;  // 9600 Bd
    std::uint8_t dlm_ = 0;
    std::uint8_t ier_ = 0x00;
    std::uint8_t fcr_ = 0x00;
    std::uint8_t lcr_ = 0x00;
    std::uint8_t mcr_ = 0x08;  // OUT2
    std::uint8_t scratch_ = 0x00;
    unsigned transmitted_ = 0;
};

}  // namespace uart
