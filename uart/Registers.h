// SPDX-License-Identifier: GPL-3.0-or-later
// 8250/16450/16550 register map: offsets from the UART's base address and the bits this
// program uses, named as the data sheet names them.
#pragma once

#include <cstdint>

namespace uart {

// Register offsets. With LCR.DLAB set, +0 and +1 are the divisor latch instead of
// data and interrupt enable.
inline constexpr std::uint16_t kRxTx = 0;             // RBR (read) / THR (write)
inline constexpr std::uint16_t kDivisorLow = 0;       // DLL, while DLAB is set
inline constexpr std::uint16_t kInterruptEnable = 1;  // IER
inline constexpr std::uint16_t kDivisorHigh = 1;      // DLM, while DLAB is set
inline constexpr std::uint16_t kInterruptId = 2;      // IIR (read) / FCR (write)
inline constexpr std::uint16_t kLineControl = 3;      // LCR
inline constexpr std::uint16_t kModemControl = 4;     // MCR
inline constexpr std::uint16_t kLineStatus = 5;       // LSR
inline constexpr std::uint16_t kModemStatus = 6;      // MSR
inline constexpr std::uint16_t kScratch = 7;          // SCR
inline constexpr std::uint16_t kRegisterCount = 8;

// Interrupt enable register: four enables; the upper four bits do not exist and read 0.
inline constexpr std::uint8_t kIerMask = 0x0F;

// FIFO control register (write) and interrupt identification register (read).
inline constexpr std::uint8_t kFcrFifoEnable = 0x01;
inline constexpr std::uint8_t kIirNoInterrupt = 0x01;   // no interrupt pending
inline constexpr std::uint8_t kIirFifosEnabled = 0xC0;  // a 16550 with its FIFOs on

// Line control register.
inline constexpr std::uint8_t kLcrWordLengthMask = 0x03;  // 0..3 = 5..8 data bits
inline constexpr std::uint8_t kLcrWordLength5 = 0x00;
inline constexpr std::uint8_t kLcrWordLength6 = 0x01;
inline constexpr std::uint8_t kLcrWordLength7 = 0x02;
inline constexpr std::uint8_t kLcrWordLength8 = 0x03;
inline constexpr std::uint8_t kLcrStop = 0x04;  // 1.5 (5-bit words) or 2 stop bits
inline constexpr std::uint8_t kLcrParityEnable = 0x08;
inline constexpr std::uint8_t kLcrParityMask = 0x38;  // enable, even, stick
inline constexpr std::uint8_t kLcrEvenParity = 0x10;
inline constexpr std::uint8_t kLcrStickParity = 0x20;
inline constexpr std::uint8_t kLcrBreak = 0x40;
inline constexpr std::uint8_t kLcrDlab = 0x80;  // divisor latch access

// Parity field values, already in position.
inline constexpr std::uint8_t kParityNone = 0x00;
inline constexpr std::uint8_t kParityOdd = 0x08;
inline constexpr std::uint8_t kParityEven = 0x18;
inline constexpr std::uint8_t kParityMark = 0x28;
inline constexpr std::uint8_t kParitySpace = 0x38;

// Modem control register.
inline constexpr std::uint8_t kMcrDtr = 0x01;
inline constexpr std::uint8_t kMcrRts = 0x02;
inline constexpr std::uint8_t kMcrOut1 = 0x04;
inline constexpr std::uint8_t kMcrOut2 = 0x08;
inline constexpr std::uint8_t kMcrLoop = 0x10;
inline constexpr std::uint8_t kMcrUnused = 0xE0;  // read as 0 on an 8250, 16450 or 16550

// Modem status register.
inline constexpr std::uint8_t kMsrCts = 0x10;
inline constexpr std::uint8_t kMsrDsr = 0x20;
inline constexpr std::uint8_t kMsrRi = 0x40;
inline constexpr std::uint8_t kMsrDcd = 0x80;

// Line status register: transmitter holding register and shift register empty.
inline constexpr std::uint8_t kLsrIdle = 0x60;

// What a read gives at an address where nothing answers: the bus floats high.
inline constexpr std::uint8_t kEmptyBus = 0xFF;

// The bit-rate generator: a 1.8432 MHz crystal divided by 16.
inline constexpr double kDivisorBase = 115200.0;

// The number of consecutive I/O addresses a UART occupies.
inline constexpr unsigned kPortSpan = kRegisterCount;

}  // namespace uart
