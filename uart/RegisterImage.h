// SPDX-License-Identifier: GPL-3.0-or-later
// The registers of a 16550 as a program sees them at its eight addresses, with the divisor latch
// behind LCR.DLAB: one image, kept by every backend that stands in for the chip.
#pragma once

#include <cstdint>

namespace uart {

// What an access reaches, as the data sheet names the registers.
enum class Reg {
    None,             // not this UART's address
    Data,             // RBR (read) / THR (write)
    DivisorLow,       // DLL, while DLAB is set
    DivisorHigh,      // DLM, while DLAB is set
    InterruptEnable,  // IER
    Fifo,             // IIR (read) / FCR (write)
    LineControl,      // LCR
    ModemControl,     // MCR
    LineStatus,       // LSR
    ModemStatus,      // MSR
    Scratch,          // SCR
};

class RegisterImage {
  public:
    // At power-up: the latch closed, the given divisor and modem control, the rest zero.
    explicit RegisterImage(std::uint16_t base, std::uint16_t divisor = 0,
                           std::uint8_t modemControl = 0);

    // The register an access to `port` reaches with the latch as it stands.
    Reg Decode(std::uint16_t port) const;
    // Keeps a write; data and the two status registers keep nothing.
    void Store(Reg reg, std::uint8_t value);
    // What a read gives from the image: no data received, no interrupt pending, the transmitter
    // idle, no modem status input (a backend that knows the lines answers that itself), and 0xFF
    // where nothing answers.
    std::uint8_t Load(Reg reg) const;

    std::uint16_t Base() const { return base_; }
    bool LatchOpen() const;
    std::uint16_t Divisor() const { return static_cast<std::uint16_t>(dlm_ << 8 | dll_); }
    std::uint8_t LineControl() const { return lcr_; }
    std::uint8_t ModemControl() const { return mcr_; }

  private:
    std::uint16_t base_;
    std::uint8_t dll_, dlm_;
    std::uint8_t ier_ = 0x00;
    std::uint8_t fcr_ = 0x00;
    std::uint8_t lcr_ = 0x00;
    std::uint8_t mcr_;
    std::uint8_t scratch_ = 0x00;
};

}  // namespace uart
