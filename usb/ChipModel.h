// SPDX-License-Identifier: GPL-3.0-or-later
// What a USB serial adapter's chip really puts on the wire. A USB serial driver reports back the
// rate and framing it was asked for, not what its chip does: each family's own divisor
// arithmetic and limits, computed here, say what the chip runs.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "uart/Framing.h"
#include "uart/LineOutcome.h"
#include "usb/Adapter.h"

namespace usb {

// The kernel driver families modelled, and every other driver of a USB adapter.
enum class Family { Ftdi, Cp210x, Ch341, Pl2303, CdcAcm, Other };

// How a family's chips turn a whole rate into the rate they run; see ChipRate.
enum class RateArithmetic {
    Unknown,      // the chip's or firmware's own, not known here
    FtdiSio,      // ten fixed rates, anything else 9600
    FtdiA,        // 3 MHz over a 14-bit divisor with quarter and eighth steps
    FtdiB,        // 3 MHz over a 14-bit divisor in eighths (B, R, X, 2232C/D)
    FtdiH,        // the hi-speed types: FtdiB below 1200 Bd, 12 MHz in eighths from there
    Cp210xTable,  // the rates of Silicon Labs' AN205 table
    // 48 MHz over a divisor, with a prescaler of 4 up to 365 Bd, twice: the driver makes a whole
    // rate of the rate it would give, and the chip divides again for that
    Cp210xExact,
    Ch341,   // 48 MHz over a prescaler and an 8-bit divisor, from 46 Bd up
    Pl2303,  // standard rates exactly, others 12 MHz x 32 over mantissa x 4^exponent
};

struct Chip {
    Family family = Family::Other;
    std::string name;    // "FTDI FT232B", "CH340", "PL2303HX", "CP2102"; else the product
    std::string driver;  // as the kernel names the driver: "ftdi_sio", "ch341", "cdc_acm"
    RateArithmetic arithmetic = RateArithmetic::Unknown;
    double lowestRate = 0;  // the lowest rate it runs; 0 where that is not known
    double highestRate = 0;
    // The word lengths it sends: bit n for the line control register's word-length field n
    // (1 << kLcrWordLength5 for five data bits); 0 where they are not known.
    unsigned wordLengths = 0;
    // What its driver tells it for 1.5 stop bits: "2", or "1.5"; empty where not known.
    const char* fiveBitStop = "";
    bool oneStopBitOnly = false;  // two stop bits asked, one sent (CP2101)
    bool stickParity = true;      // mark and space parity; else they go out as odd and even
    // Its driver reports a break from the line (a BREAK key opening the loop).
    bool reportsBreak = true;
    // It runs a teleprinter's rates, 45.45 Bd and the like.
    bool servesTeleprinter = false;
};

// The chip of a USB adapter; nothing for a port that is not on USB (the 8250 family).
std::optional<Chip> ChipOf(const Adapter& adapter);

// The whole rate the driver is asked for in place of `divisor`: the rate the divisor gives,
// rounded.
unsigned WholeRate(std::uint16_t divisor);

// The whole rate to ask of `chip`'s driver for `rate`: of the few around it, the one whose rate
// the chip runs is nearest `rate`; the rounded rate where the chip's arithmetic is not known.
unsigned RequestFor(const Chip& chip, double rate);

// The rate `chip` runs when its driver is asked for the whole rate `request`; nothing when that
// cannot be known.
std::optional<double> ChipRate(const Chip& chip, unsigned request);

// How far the rate a chip runs may be from the rate asked: a mechanical teleprinter copies
// within about 5 % of its speed.
inline constexpr double kRateTolerancePercent = 5.0;

// Whether `chip` can put the line on the wire: failed where it cannot, with one message that
// names its limit, and what would serve instead; nothing said where it can. `divisor` is the one
// asked for (nothing: the rate stays as it is) and `asked` the rate it stands for; the framing,
// where given, must be one the chip sends as asked.
uart::LineOutcome CannotSend(const Chip& chip, std::optional<std::uint16_t> divisor, double asked,
                             const std::optional<uart::Framing>& framing);
// The same for a rate asked in baud (nothing: the rate stays as it is).
uart::LineOutcome CannotSend(const Chip& chip, std::optional<double> rate,
                             const std::optional<uart::Framing>& framing);

// What the chip is told in place of the framing's stop bits, or empty when it is told what was
// asked: "1.5 stop bits asked, this chip is told 2".
std::string StopBitsTold(const Chip& chip, const uart::Framing& framing);

}  // namespace usb
