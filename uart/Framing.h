// SPDX-License-Identifier: GPL-3.0-or-later
// A line's framing as the line control register holds it: the word-length, parity and stop
// fields in the register's own bit patterns, with the names people read, the compact form they
// write ("5N1.5") and the termios flags the serial driver takes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "uart/Registers.h"

namespace uart {

struct Framing {
    std::uint8_t parityBits = kParityNone;          // kParityNone, Odd, Even, Mark or Space
    std::uint8_t wordLengthBits = kLcrWordLength5;  // 0..3 for five to eight data bits
    // 0 for one stop bit; kLcrStop for 1.5 with five-bit words and 2 with longer ones
    std::uint8_t stopBits = kLcrStop;

    // The framing fields of a line control byte. The latch and break bits are not framing and
    // are dropped; parity with its enable bit clear is no parity.
    static Framing FromLineControl(std::uint8_t lineControl);
    // The line control byte: the three fields together, latch closed, no break.
    std::uint8_t LineControl() const;

    int DataBits() const { return 5 + wordLengthBits; }
    // 1, 1.5 or 2: the stop bits the stop field gives with this word length.
    double StopCount() const;
    // The same as written: "1", "1.5" or "2".
    std::string StopCountText() const;

    // "5 data bits, no parity, 1.5 stop bits".
    std::string Description() const;
    // "5N1.5", "8E1", "7M2".
    std::string Compact() const;
    // Reads the compact form; the parity letter may be in either case. What the line cannot do
    // is refused rather than changed: 1.5 stop bits exist only with five-bit words, two stop bits
    // only with longer ones, and the message names the form that works. Null with `error` set.
    static std::optional<Framing> Parse(std::string_view text, std::string& error);

    // The termios control flags (within TermiosMask) for this framing.
    std::uint32_t TermiosFlags() const;
    // The framing that termios control flags give.
    static Framing FromTermios(std::uint32_t controlFlags);
    // CSIZE | CSTOPB | PARENB | PARODD | CMSPAR: the flags that carry a framing.
    static std::uint32_t TermiosMask();

    friend bool operator==(const Framing&, const Framing&) = default;
};

}  // namespace uart
