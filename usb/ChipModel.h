// SPDX-License-Identifier: GPL-3.0-or-later
// What a serial port's chip really puts on the wire where its driver does not say it. A USB
// serial driver reports back the rate and framing it was asked for, not what its chip does, and
// so does the PL011's: each family's own divisor arithmetic and limits, computed here, say what
// the chip runs. The 8250 family is not here: its driver takes the divisor itself.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "uart/Framing.h"
#include "uart/LineOutcome.h"
#include "usb/Adapter.h"

namespace usb {

// The kernel driver families modelled: the USB adapters', every other driver of a USB adapter
// (Other), the Raspberry Pi's two UARTs, and every other driver of a port not on USB that is not
// of the 8250 family (Uart).
enum class Family { Ftdi, Cp210x, Ch341, Pl2303, CdcAcm, Other, Pl011, MiniUart, Uart };

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
    // the clock x 4 over the rate, rounded, in 64ths: a 16-bit integer part (IBRD) and six bits
    // of fraction (FBRD); the integer part is cut to 16 bits by the driver's register write
    Pl011,
};

struct Chip {
    Family family = Family::Other;
    std::string name;    // "FTDI FT232B", "CH340", "PL2303HX", "CP2102", "PL011"; else the product
    std::string driver;  // as the kernel names the driver: "ftdi_sio", "ch341", "uart-pl011"
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
    bool parityBit = true;  // it sends a parity bit
    bool longStop = true;   // it sends 1.5 or 2 stop bits (or a longer stop in their place)
    // The UART's clock, baud_base x 16 as its driver tells it once the port is open (KnowClock);
    // 0 until then. Only the Raspberry Pi's UARTs ask for it (`clockFromDriver`).
    double clock = 0;
    bool clockFromDriver = false;
    // Its driver honours a custom divisor (the 8250 core behind the mini UART): the divisor goes
    // to it as it is, not as a whole rate.
    bool customDivisor = false;
    // A Raspberry Pi's UART on the header's GPIO 14 and 15: no DTR pin, RTS only through an
    // overlay.
    bool piHeader = false;
};

// The chip of a USB adapter or of a port whose driver is not of the 8250 family; nothing for one
// that is (its driver takes the divisor itself).
std::optional<Chip> ChipOf(const Adapter& adapter);

// The UART's clock as its driver reports it (baud_base x 16), with the limits that follow from it.
void KnowClock(Chip& chip, double clock);

// "PL011 at 48 MHz", "CH340 (ch341)": the chip as the port's label names it.
std::string ChipLabel(const Chip& chip);

// The whole rate the driver is asked for in place of `divisor`: the rate the divisor gives,
// rounded.
unsigned WholeRate(std::uint16_t divisor);

// The whole rate to ask of `chip`'s driver for `rate`: of the few around it, the one whose rate
// the chip runs is nearest `rate`, never one the chip cannot take (Fits); the rounded rate where
// the chip's arithmetic is not known.
unsigned RequestFor(const Chip& chip, double rate);

// The rate `chip` runs when its driver is asked for the whole rate `request`; nothing when that
// cannot be known.
std::optional<double> ChipRate(const Chip& chip, unsigned request);

// Whether `chip` takes the whole rate `request` as it is: false for a PL011 whose integer divisor
// would not fit its 16-bit register (the driver writes it cut short, and the line runs far too
// fast).
bool Fits(const Chip& chip, unsigned request);

// Where a lower clock would serve `rate` better than the chip's own: "init_uart_clock=3000000
// in config.txt runs 45.00 Bd"; empty elsewhere.
std::string LowerClock(const Chip& chip, double rate);

// What the modem lines reach on `chip`'s port where not every line has a pin: "the Raspberry
// Pi's header has no DTR pin, …"; empty elsewhere.
std::string ModemLinePins(const Chip& chip);

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
