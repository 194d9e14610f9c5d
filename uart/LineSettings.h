// SPDX-License-Identifier: GPL-3.0-or-later
// The process-wide line settings and the operations that write them into the UART.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "uart/Framing.h"
#include "uart/PortIo.h"

namespace uart {

// The UART's base address and the three framing fields of the line control register, held as
// the register's own bit patterns (the codes of Framing). One instance for the whole run; the
// panel's handlers change the framing, the panel's initialisation or the scripted mode sets the
// base, and ProgramUart reads them.
struct LineSettingsData {
    std::int32_t portBase = 0;        // used as a 16-bit I/O address
    std::int32_t parityBits = 0x00;   // none; 0x08 odd, 0x18 even, 0x28 mark, 0x38 space
    std::int32_t wordLengthBits = 0;  // five bits; 1, 2, 3 for six, seven, eight
    std::int32_t stopBits = 4;  // 1.5 stop bits with five-bit words (2 with longer); 0 for one

    // The three framing fields as a Framing (each masked to its field).
    Framing ToFraming() const;
    void SetFraming(const Framing& framing);
};

// Starts as five-bit words, no parity, 1.5 stop bits: a Baudot teleprinter's framing. None of
// it reaches the UART until the user acts.
inline LineSettingsData LineSettings;

// Rates at or below this leave the divisor latch alone.
inline constexpr double kMinimumRate = 35.0;

// The line control byte that the framing fields make.
std::uint8_t FramingByte(const LineSettingsData& settings);

// The divisor latch value for a rate: kDivisorBase / rate, truncated toward zero, for every
// input. A quotient too big for the latch's 16 bits (a rate at or below kDivisorBase / 65536,
// 1.7578125 Bd, zero included) gives 0xFFFF, the slowest the UART can go; a rate above
// kDivisorBase, infinity, a negative rate and NaN give 0, which produces no defined rate.
std::uint16_t DivisorForRate(double rate);

// The rate a divisor produces: kDivisorBase / divisor, and 0 for divisor 0, which produces no
// defined rate.
double RateOfDivisor(std::uint16_t divisor);

// What a rate gives on the UART (see RateReport).
RateReport ReportRate(double rate);

// How far `runs` is from `asked`, in percent to the hundredth as it is said: a rate a hair's
// breadth slow is 0.00 %, not -0.00 %.
double PercentOff(double runs, double asked);

// What a rate asked for gives: "45.45 Bd asked, divisor 2534 gives 45.46 Bd (+0.03 %)", or where
// the line runs at another rate "45.45 Bd asked, the CH340 runs 45.96 Bd (+1.12 %)" or "45.45 Bd
// asked, the driver reports 45 Bd; the chip's real rate is unknown".
std::string DescribeRate(const RateReport& report, const std::optional<RunningRate>& running);

// Programs the UART at `portBase`: for a rate above 35 baud the divisor latch (open it, high
// byte, low byte), then in every case the framing byte, which also closes the latch. A rate of
// 0 therefore rewrites the framing and leaves the bit rate alone. Returns what the divisor it
// wrote gives, or nothing when it left the divisor alone.
std::optional<RateReport> ProgramUart(std::int32_t portBase, double rate);

// The one way a line is applied: ProgramUart with the framing in LineSettings, and what came of
// it, everything the backend had to say included.
LineOutcome ApplyLine(std::int32_t portBase, double rate);
// SetModemLine, and what came of it.
LineOutcome ApplyModemLine(std::uint8_t mask, bool on);

// One look at the line through `io` (PortIo::ReadLineState), and what came of it: failed, with
// why, when there is no `state`.
struct LineLook {
    std::optional<LineState> state;
    LineOutcome outcome;
};
LineLook LookAtLine(PortIo& io, std::int32_t base);

// Whether a UART answers at `base` through `io`, by its modem control register (IsEmptyBus), and
// what came of the look: failed, with why, where none does. A backend that cannot find an empty
// address (the driver's) is not asked.
LineOutcome LookForUart(PortIo& io, std::int32_t base);

// The line control register of the UART at `base` through `io`, where one answers (LookForUart),
// and what came of the look.
struct LineControlLook {
    std::optional<std::uint8_t> lineControl;
    LineOutcome outcome;
};
LineControlLook LookAtLineControl(PortIo& io, std::int32_t base);

// Raises (`on`) or drops one modem output line, `mask` kMcrDtr or kMcrRts, by reading the modem
// control register and writing it back with only that bit changed. A reading that shows no UART
// at the address (an empty bus's 0xFF) is not written back: the backend says so, as a failure.
void SetModemLine(std::uint8_t mask, bool on);

}  // namespace uart
