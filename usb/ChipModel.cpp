// SPDX-License-Identifier: GPL-3.0-or-later
#include "usb/ChipModel.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <utility>

#include "os/CLocale.h"
#include "uart/LineSettings.h"

namespace usb {
using os::FormatC;
using uart::DivisorForRate;
using uart::Framing;
using uart::Instead;
using uart::kLcrParityEnable;
using uart::kLcrStickParity;
using uart::kLcrWordLength5;
using uart::kLcrWordLength6;
using uart::kLcrWordLength7;
using uart::kLcrWordLength8;
using uart::LineOutcome;
using uart::RateOfDivisor;

namespace {

// Sets of word lengths, as Chip::wordLengths holds them.
constexpr unsigned WordLength(std::uint8_t field) {
    return 1u << field;
}
constexpr unsigned kAllWordLengths = WordLength(kLcrWordLength5) | WordLength(kLcrWordLength6) |
                                     WordLength(kLcrWordLength7) | WordLength(kLcrWordLength8);
constexpr unsigned kSevenOrEightBits = WordLength(kLcrWordLength7) | WordLength(kLcrWordLength8);
constexpr unsigned kEightBitsOnly = WordLength(kLcrWordLength8);

// FTDI: the chip type follows bcdDevice, as its driver reads it.
struct FtdiType {
    std::uint16_t release;
    const char* name;
    RateArithmetic arithmetic;
};
constexpr FtdiType kFtdiTypes[] = {
    {0x0200, "FT232A", RateArithmetic::FtdiA},    {0x0400, "FT232B", RateArithmetic::FtdiB},
    {0x0500, "FT2232C/D", RateArithmetic::FtdiB}, {0x0600, "FT232R", RateArithmetic::FtdiB},
    {0x0700, "FT2232H", RateArithmetic::FtdiH},   {0x0800, "FT4232H", RateArithmetic::FtdiH},
    {0x0900, "FT232H", RateArithmetic::FtdiH},    {0x1000, "FT-X", RateArithmetic::FtdiB},
    {0x2800, "FT2233HP", RateArithmetic::FtdiH},  {0x2900, "FT4233HP", RateArithmetic::FtdiH},
    {0x3000, "FT2232HP", RateArithmetic::FtdiH},  {0x3100, "FT4232HP", RateArithmetic::FtdiH},
    {0x3200, "FT233HP", RateArithmetic::FtdiH},   {0x3300, "FT232HP", RateArithmetic::FtdiH},
    {0x3600, "FT4232HA", RateArithmetic::FtdiH},
};

// The slowest an FTDI divisor goes: 3 MHz over 16383.875.
constexpr double kFtdiLowestRate = 3e6 / 16383.875;
// The hi-speed types' divisor counts a 12 MHz clock from 1200 Bd up, to 12 MBd.
constexpr unsigned kFtdiHighSpeedFrom = 1200;
constexpr double kFtdiHighSpeedTop = 12e6;
constexpr unsigned kFtdiSioRates[] = {300,  600,   1200,  2400,  4800,
                                      9600, 19200, 38400, 57600, 115200};

// The sub-divisor each of the FTDI's three fraction bits selects, B types and later.
constexpr double kFtdiFractions[] = {0, 0.5, 0.25, 0.125, 0.375, 0.625, 0.75, 0.875};
// Which code the driver sends for each eighth.
constexpr unsigned kFtdiFractionCodes[] = {0, 3, 2, 4, 1, 5, 6, 7};

// A modelled chip that sends every word length, as most do; `fiveBitStop` is what its driver
// tells it for 1.5 stop bits.
Chip Modelled(Family family, std::string name, const char* driver, RateArithmetic arithmetic,
              double lowest, double highest, const char* fiveBitStop) {
    Chip chip{family, std::move(name), driver, arithmetic, lowest, highest};
    chip.wordLengths = kAllWordLengths;
    chip.fiveBitStop = fiveBitStop;
    return chip;
}

Chip Ftdi(const Adapter& adapter) {
    Chip chip =
        Modelled(Family::Ftdi, "FTDI SIO", "ftdi_sio", RateArithmetic::FtdiSio, 300, 115200, "2");
    for (const FtdiType& type : kFtdiTypes) {
        if (type.release == adapter.release) {
            chip.name = std::string("FTDI ") + type.name;
            chip.arithmetic = type.arithmetic;
            chip.lowestRate = kFtdiLowestRate;
            chip.highestRate = type.arithmetic == RateArithmetic::FtdiH ? kFtdiHighSpeedTop : 3e6;
        }
    }
    // A B type without a serial number reports itself as an A; its latency timer gives it away.
    if (adapter.release == 0x0200 && adapter.latencyTimer) {
        chip.name = "FTDI FT232B";
        chip.arithmetic = RateArithmetic::FtdiB;
    }
    chip.wordLengths = kSevenOrEightBits;  // five bits go to the chip as "0", which sends 8
    return chip;
}

Chip Cp210x(const Adapter& adapter) {
    Chip chip = Modelled(Family::Cp210x, "CP210x", "cp210x", RateArithmetic::Cp210xTable, 300,
                         2000000, "2");
    chip.reportsBreak = false;  // only in an event mode, which the bridge leaves off
    // The part number is read from the chip itself; the product string usually carries it.
    const std::string& product = adapter.productName;
    const auto at = product.find("CP21");
    if (at == std::string::npos || at + 6 > product.size())
        return chip;
    const std::string name = product.substr(at, product.compare(at + 6, 1, "N") == 0 ? 7 : 6);
    chip.name = name;
    if (name == "CP2101") {
        chip.wordLengths = kEightBitsOnly;
        chip.oneStopBitOnly = true;
        chip.stickParity = false;
        chip.highestRate = 921600;
    } else if (name == "CP2104" || name == "CP2102N" ||
               (name == "CP2105" && adapter.interfaceNumber == 0)) {
        chip.arithmetic = RateArithmetic::Cp210xExact;
        if (name == "CP2102N")
            chip.highestRate = 3000000;
    } else if (name == "CP2105") {
        chip.lowestRate = 2400;
        chip.highestRate = 921600;
    }
    return chip;
}

Chip Ch341(const Adapter& adapter) {
    const char* name = adapter.product == 0x7523 || adapter.product == 0x7522 ? "CH340"
                       : adapter.product == 0x5523                            ? "CH341"
                                                                              : "CH34x";
    Chip chip = Modelled(Family::Ch341, name, "ch341", RateArithmetic::Ch341, 46, 3000000, "2");
    chip.reportsBreak = false;
    chip.servesTeleprinter = true;
    return chip;
}

// The PL2303's type, from its descriptors as its driver tells them apart. Two release numbers
// stand for either an older TA/TB or a newer G type, which only a request to the chip tells:
// its rate is then not known (a TA or TB would run 45.03 Bd for 45).
Chip Pl2303(const Adapter& adapter) {
    Chip chip =
        Modelled(Family::Pl2303, "PL2303HX", "pl2303", RateArithmetic::Pl2303, 0, 6000000, "1.5");
    chip.servesTeleprinter = true;
    const std::uint16_t release = adapter.release;
    if (adapter.deviceClass == 0x02 || adapter.maxPacketSize0 != 0x40) {
        chip.name = "PL2303H";
        chip.highestRate = 1228800;
    } else if (adapter.usbVersion == 0x101 || adapter.usbVersion == 0x110) {
        if (release == 0x400) {
            chip.name = "PL2303HXD";
            chip.highestRate = 12000000;
        }
    } else if (release == 0x300 || release == 0x500) {
        chip.name = release == 0x300 ? "PL2303TA or G" : "PL2303TB or G";
        chip.arithmetic = RateArithmetic::Unknown;
    } else {
        chip.name = "PL2303G";  // no divisor: the rate is the chip's own business
        chip.arithmetic = RateArithmetic::Unknown;
    }
    if (chip.arithmetic == RateArithmetic::Pl2303)
        chip.lowestRate = *ChipRate(chip, 1);
    return chip;
}

// Rounded division of positive whole numbers, as the drivers do it.
std::uint64_t RoundedDivision(std::uint64_t a, std::uint64_t b) {
    return (a + b / 2) / b;
}

// An FTDI divisor of `eighths` eighths of the chip's `clock` (3 MHz, or 12 MHz for the hi-speed
// types), as its driver encodes it and the chip reads it back.
double FtdiEighthsRate(double clock, std::uint32_t eighths) {
    std::uint32_t divisor = (eighths >> 3) | (kFtdiFractionCodes[eighths & 7] << 14);
    if (divisor == 1)
        divisor = 0;
    else if (divisor == 0x4001)
        divisor = 1;
    // The chip takes 14 bits of divisor and three of fraction (the third in the request's index):
    // a divisor too big for 14 bits spills into the fraction and gives an unrelated rate.
    const std::uint32_t whole = divisor & 0x3FFF;
    const std::uint32_t code = ((divisor >> 14) & 3) | (((divisor >> 16) & 1) << 2);
    if (whole == 0)
        return clock;
    if (whole == 1 && code == 0)
        return clock / 1.5;
    return clock / (whole + kFtdiFractions[code]);
}

double FtdiBRate(unsigned request) {
    return FtdiEighthsRate(3e6,
                           static_cast<std::uint32_t>(RoundedDivision(48000000, 2ull * request)));
}

// The hi-speed types sample ten times a bit from 120 MHz: eighths of 12 MHz.
double FtdiHRate(unsigned request) {
    if (request < kFtdiHighSpeedFrom)
        return FtdiBRate(request);
    return FtdiEighthsRate(
        12e6, static_cast<std::uint32_t>(RoundedDivision(8ull * 120000000, 10ull * request)));
}

// The whole rate the CP210x driver makes of `rate` before it tells the chip: what the chip's
// divisor would give, cut to a whole number.
unsigned Cp210xActualRate(unsigned rate) {
    const unsigned prescaler = rate <= 365 ? 4 : 1;
    const std::uint64_t divisor = RoundedDivision(48000000, 2ull * prescaler * rate);
    return static_cast<unsigned>(48000000 / (2 * prescaler * divisor));
}

double Cp210xExactRate(unsigned rate) {
    const unsigned prescaler = rate <= 365 ? 4 : 1;
    const std::uint64_t divisor = RoundedDivision(48000000, 2ull * prescaler * rate);
    return 48e6 / static_cast<double>(2 * prescaler * divisor);
}

// The PL011's divisor for `request`, in 64ths of the clock x 4, as its driver rounds it.
std::uint64_t Pl011Divisor(const Chip& chip, unsigned request) {
    return RoundedDivision(static_cast<std::uint64_t>(std::llround(chip.clock)) * 4, request);
}

// The rate the PL011 runs at `divisor`, once IBRD has been written cut to 16 bits; nothing where
// that leaves no integer part (the PL011 then runs no defined rate).
std::optional<double> Pl011Rate(const Chip& chip, std::uint64_t divisor) {
    const std::uint64_t ibrd = (divisor >> 6) & 0xFFFF, fbrd = divisor & 63;
    if (ibrd == 0)
        return std::nullopt;
    return chip.clock * 4 / static_cast<double>(ibrd * 64 + fbrd);
}

// The 8250 drivers: the port's divisor is the driver's own, and it honours a custom divisor.
constexpr const char* k8250Drivers[] = {
    "serial8250", "serial",       "of_serial",    "dw-apb-uart",  "exar_serial",
    "8250_lpss",  "8250_mid",     "8250_pericom", "omap8250",     "mt6577-uart",
    "serial_cs",  "aspeed-vuart", "ingenic-uart", "lpc18xx-uart", "uniphier-uart",
};

// "48 MHz", "47.9996 MHz".
std::string Megahertz(double hertz) {
    return FormatC("%g MHz", hertz / 1e6);
}

// The Raspberry Pi's PL011 (uart-pl011) and mini UART (bcm2835-aux-uart), and any other driver
// of a port that is not of the 8250 family; nothing for the 8250 family.
std::optional<Chip> Uart(const Adapter& adapter) {
    if (adapter.driver == "uart-pl011") {
        Chip chip =
            Modelled(Family::Pl011, "PL011", "uart-pl011", RateArithmetic::Pl011, 0, 0, "2");
        chip.servesTeleprinter = true;
        chip.clockFromDriver = true;
        chip.piHeader = adapter.machine.starts_with("Raspberry Pi");
        return chip;
    }
    if (adapter.driver == "bcm2835-aux-uart") {
        // The 8250 core behind it turns what it lacks into what it has, in the caller's termios.
        Chip chip{Family::MiniUart, "mini UART", adapter.driver};
        chip.wordLengths = kSevenOrEightBits;
        chip.parityBit = false;
        chip.longStop = false;
        chip.stickParity = false;
        chip.clockFromDriver = true;
        chip.customDivisor = true;
        chip.piHeader = true;
        return chip;
    }
    for (const char* driver : k8250Drivers) {
        if (adapter.driver == driver)
            return std::nullopt;
    }
    return Chip{Family::Uart, "unknown UART", adapter.driver};
}

double FtdiARate(unsigned request) {
    auto eighths = static_cast<std::uint32_t>(RoundedDivision(48000000, 2ull * request));
    if ((eighths & 7) == 7)
        ++eighths;
    const auto whole = static_cast<std::uint16_t>(eighths >> 3);
    const std::uint32_t code = (eighths & 7) == 1   ? 3
                               : (eighths & 7) >= 4 ? 1
                               : (eighths & 7)      ? 2
                                                    : 0;
    const std::uint32_t divisor = (whole | (code << 14)) & 0xFFFF;
    static constexpr double kFractions[] = {0, 0.5, 0.25, 0.125};
    if ((divisor & 0x3FFF) <= 1 && (divisor >> 14) == 0)
        return 3e6;
    return 3e6 / ((divisor & 0x3FFF) + kFractions[divisor >> 14]);
}

double Ch341Rate(unsigned request) {
    constexpr std::uint64_t kClock = 48000000;
    const auto clockDivider = [](int prescaler, int fact) {
        return 1u << (12 - 3 * prescaler - fact);
    };
    const std::uint64_t speed = std::clamp<std::uint64_t>(request, 46, 3000000);
    int prescaler = 3;
    while (prescaler > 0 && speed <= kClock / (clockDivider(prescaler, 1) * 512ull))
        --prescaler;
    std::uint64_t divider = clockDivider(prescaler, 1);
    std::uint64_t divisor = kClock / (divider * speed);
    if (divisor < 9 || divisor > 255) {
        divisor /= 2;
        divider *= 2;
    }
    // The next divisor when it comes closer, compared in sixteenths as the driver does.
    if (16 * kClock / (divider * divisor) - 16 * speed >=
        16 * speed - 16 * kClock / (divider * (divisor + 1)))
        ++divisor;
    return static_cast<double>(kClock) / static_cast<double>(divider * divisor);
}

double Pl2303Rate(const Chip& chip, unsigned request) {
    static constexpr unsigned kStandard[] = {
        75,     150,    300,    600,     1200,    1800,    2400,   3600,   4800,
        7200,   9600,   14400,  19200,   28800,   38400,   57600,  115200, 230400,
        460800, 614400, 921600, 1228800, 2457600, 3000000, 6000000};
    const unsigned rate = std::min(request, static_cast<unsigned>(chip.highestRate));
    // The nearest standard rate, the higher of two equally near; a standard rate goes out as is.
    const unsigned* above = std::upper_bound(std::begin(kStandard), std::end(kStandard), rate);
    unsigned nearest = above == std::end(kStandard) ? *(above - 1) : *above;
    if (above != std::begin(kStandard) && above != std::end(kStandard) &&
        *above - rate > rate - *(above - 1))
        nearest = *(above - 1);
    if (nearest == rate)
        return rate;
    // 12 MHz x 32 over a 9-bit mantissa times four to the power of a 3-bit exponent.
    constexpr unsigned kBaseline = 12000000 * 32;
    unsigned mantissa = std::max(1u, kBaseline / rate);
    int exponent = 0;
    while (mantissa >= 512) {
        if (exponent == 7) {
            mantissa = 511;  // the slowest it goes
            break;
        }
        mantissa >>= 2;
        ++exponent;
    }
    return kBaseline / (mantissa * std::pow(4.0, exponent));
}

const char* WordLengthNames(unsigned lengths) {
    return lengths == kEightBitsOnly ? "8 data bits only" : "7 or 8 data bits only";
}

// What serves a teleprinter where this chip does not.
Instead InsteadOf(const Chip& chip) {
    if (chip.family == Family::MiniUart)
        return Instead::Pl011;
    if (chip.family == Family::Pl011)
        return Instead::Nothing;  // a lower clock serves it: see LowerClock
    return chip.servesTeleprinter ? Instead::Card : Instead::TeleprinterAdapterOrCard;
}

// "7 or 8 data bits, no parity and 1 stop bit only": what a chip without parity or a longer
// stop sends.
std::string FramingsSent(const Chip& chip) {
    std::string sent = chip.wordLengths == kEightBitsOnly ? "8 data bits" : "7 or 8 data bits";
    if (!chip.parityBit)
        sent += chip.longStop ? " and no parity" : ", no parity";
    if (!chip.longStop)
        sent += " and 1 stop bit";
    return sent + " only";
}

// The chip cannot send the line, for `why`.
LineOutcome Refused(std::string why, Instead instead = Instead::Nothing) {
    LineOutcome refused;
    refused.notice = std::move(why);
    refused.failed = true;
    refused.instead = instead;
    return refused;
}

}  // namespace

std::optional<Chip> ChipOf(const Adapter& adapter) {
    if (!adapter.usb)
        return Uart(adapter);
    if (adapter.driver == "ftdi_sio")
        return Ftdi(adapter);
    if (adapter.driver == "cp210x")
        return Cp210x(adapter);
    if (adapter.driver == "ch341-uart" || adapter.driver == "ch341")
        return Ch341(adapter);
    if (adapter.driver == "pl2303")
        return Pl2303(adapter);
    Chip chip;
    chip.name = adapter.productName.empty() ? "USB adapter" : adapter.productName;
    chip.driver = adapter.driver;
    if (adapter.driver == "cdc_acm") {
        // The firmware behind it is told the whole rate, the word length, and 1 or 2 stop bits.
        chip.family = Family::CdcAcm;
        chip.wordLengths = kAllWordLengths;
        chip.fiveBitStop = "2";
    }
    return chip;
}

void KnowClock(Chip& chip, double clock) {
    chip.clock = clock;
    if (chip.family == Family::MiniUart) {
        chip.lowestRate = clock / 16 / 0xFFFF;  // its 16-bit divisor of baud_base
        chip.highestRate = clock / 16;
    } else if (chip.family == Family::Pl011) {
        chip.highestRate = clock / 16;
        // The lowest whole rate whose divisor fits IBRD's 16 bits.
        auto lowest = static_cast<unsigned>(std::ceil(clock * 4 / (65536.0 * 64)));
        while (lowest < chip.highestRate && !Fits(chip, lowest))
            ++lowest;
        chip.lowestRate = lowest;
    }
}

std::string ChipLabel(const Chip& chip) {
    if (chip.clock > 0 && chip.family == Family::Pl011)
        return chip.name + " at " + Megahertz(chip.clock);
    // The 8250 core counts the mini UART's clock twice over: the core clock is half of it.
    if (chip.clock > 0 && chip.family == Family::MiniUart)
        return chip.name + ", core clock " + Megahertz(chip.clock / 2);
    return chip.name + " (" + chip.driver + ")";
}

unsigned WholeRate(std::uint16_t divisor) {
    return static_cast<unsigned>(std::lround(RateOfDivisor(divisor)));
}

unsigned RequestFor(const Chip& chip, double rate) {
    const long rounded = std::max(1L, std::lround(rate));
    if (chip.arithmetic == RateArithmetic::Unknown || !(rate > 0))
        return static_cast<unsigned>(rounded);
    // The rounded rate first, then outwards: of two that run equally near, the nearer request.
    long best = rounded;
    std::optional<double> bestOff;
    for (const long step : {0L, -1L, 1L, -2L, 2L}) {
        const long request = rounded + step;
        if (request < 1 || !Fits(chip, static_cast<unsigned>(request)))
            continue;
        const std::optional<double> runs = ChipRate(chip, static_cast<unsigned>(request));
        if (runs && (!bestOff || std::fabs(*runs - rate) < *bestOff)) {
            best = request;
            bestOff = std::fabs(*runs - rate);
        }
    }
    return static_cast<unsigned>(best);
}

bool Fits(const Chip& chip, unsigned request) {
    if (chip.arithmetic != RateArithmetic::Pl011 || chip.clock <= 0 || request == 0)
        return true;
    const std::uint64_t ibrd = Pl011Divisor(chip, request) >> 6;
    return ibrd >= 1 && ibrd <= 0xFFFF;
}

std::string LowerClock(const Chip& chip, double rate) {
    constexpr double kLowClock = 3e6;
    if (chip.arithmetic != RateArithmetic::Pl011 || chip.clock <= kLowClock || !(rate > 0) ||
        Fits(chip, static_cast<unsigned>(std::max(1L, std::lround(rate)))))
        return {};
    Chip slower = chip;
    KnowClock(slower, kLowClock);
    const std::optional<double> runs = ChipRate(slower, RequestFor(slower, rate));
    if (!runs)
        return {};
    return FormatC("init_uart_clock=3000000 in config.txt runs %.2f Bd", *runs);
}

std::string ModemLinePins(const Chip& chip) {
    if (!chip.piHeader)
        return {};
    return "the Raspberry Pi's header has no DTR pin, and RTS reaches one only through an "
           "overlay";
}

std::optional<double> ChipRate(const Chip& chip, unsigned request) {
    if (request == 0)
        return std::nullopt;
    switch (chip.arithmetic) {
        case RateArithmetic::FtdiSio: {
            const auto* found =
                std::find(std::begin(kFtdiSioRates), std::end(kFtdiSioRates), request);
            return found != std::end(kFtdiSioRates) ? request : 9600.0;
        }
        case RateArithmetic::FtdiA:
            return request <= 3000000 ? FtdiARate(request) : 9600.0;
        case RateArithmetic::FtdiB:
            return request <= 3000000 ? FtdiBRate(request) : 9600.0;
        case RateArithmetic::FtdiH:
            return request <= kFtdiHighSpeedTop ? FtdiHRate(request) : 9600.0;
        case RateArithmetic::Cp210xTable: {
            static constexpr std::pair<unsigned, unsigned> kTable[] = {
                {300, 300},       {600, 600},       {1200, 1200},     {1800, 1800},
                {2400, 2400},     {4000, 4000},     {4800, 4803},     {7200, 7207},
                {9600, 9612},     {14400, 14428},   {16000, 16062},   {19200, 19250},
                {28800, 28912},   {38400, 38601},   {51200, 51558},   {56000, 56280},
                {57600, 58053},   {64000, 64111},   {76800, 77608},   {115200, 117028},
                {128000, 129347}, {153600, 156868}, {230400, 237832}, {250000, 254234},
                {256000, 273066}, {460800, 491520}, {500000, 567138}, {576000, 670254}};
            const auto rate = static_cast<unsigned>(
                std::clamp<double>(request, chip.lowestRate, chip.highestRate));
            if (rate >= 1000000)
                return rate;
            for (const auto& [set, highest] : kTable) {
                if (rate <= highest)
                    return set;
            }
            return 921600.0;
        }
        case RateArithmetic::Cp210xExact: {
            const auto rate = static_cast<unsigned>(
                std::clamp<double>(request, chip.lowestRate, chip.highestRate));
            return Cp210xExactRate(Cp210xActualRate(rate));
        }
        case RateArithmetic::Ch341:
            return Ch341Rate(request);
        case RateArithmetic::Pl2303:
            return Pl2303Rate(chip, request);
        case RateArithmetic::Pl011:
            // Above clock/16 the driver keeps another rate; not modelled.
            if (chip.clock <= 0 || request > chip.highestRate)
                return std::nullopt;
            return Pl011Rate(chip, Pl011Divisor(chip, request));
        case RateArithmetic::Unknown:
            break;
    }
    return std::nullopt;
}

LineOutcome CannotSend(const Chip& chip, std::optional<std::uint16_t> divisor, double asked,
                       const std::optional<Framing>& framing) {
    const std::optional<unsigned> request =
        divisor && *divisor != 0 ? std::optional(RequestFor(chip, RateOfDivisor(*divisor)))
                                 : std::nullopt;
    const std::optional<double> runs = request ? ChipRate(chip, *request) : std::nullopt;
    // A divisor too big for the chip is never asked for; below its floor the rate is refused
    // even where what the chip would make of it is not known.
    const bool tooFar = runs && std::fabs(*runs - asked) > asked * kRateTolerancePercent / 100.0;
    const bool belowFloor = request && chip.lowestRate > 0 && asked < chip.lowestRate;
    if ((request && !Fits(chip, *request)) || tooFar || (!runs && belowFloor)) {
        const std::string lower = LowerClock(chip, asked);
        const std::string clock = chip.family == Family::MiniUart && chip.clock > 0
                                      ? " (core clock " + Megahertz(chip.clock / 2) + ")"
                                  : chip.clock > 0 ? " at " + Megahertz(chip.clock)
                                                   : "";
        std::string why =
            belowFloor || !runs
                ? FormatC("the %s's lowest rate is %.0f Bd%s: %.2f Bd cannot be set.",
                          chip.name.c_str(), chip.lowestRate, clock.c_str(), asked)
                : FormatC("the %s runs %.2f Bd for %.2f Bd (%+.2f %%): it cannot be set.",
                          chip.name.c_str(), *runs, asked, uart::PercentOff(*runs, asked));
        return Refused(lower.empty() ? why : why + " " + lower + ".", InsteadOf(chip));
    }
    if (!framing)
        return {};
    const int bits = framing->DataBits();
    const bool parity = (framing->parityBits & kLcrParityEnable) != 0;
    if ((!chip.parityBit || !chip.longStop) &&
        ((chip.wordLengths & WordLength(framing->wordLengthBits)) == 0 ||
         (parity && !chip.parityBit) || (framing->stopBits != 0 && !chip.longStop))) {
        return Refused(FormatC("the %s cannot send %s (%s).", chip.name.c_str(),
                               framing->Compact().c_str(), FramingsSent(chip).c_str()),
                       InsteadOf(chip));
    }
    if (chip.wordLengths != 0 && (chip.wordLengths & WordLength(framing->wordLengthBits)) == 0) {
        return Refused(FormatC("the %s cannot send %d-bit words (%s).", chip.name.c_str(), bits,
                               WordLengthNames(chip.wordLengths)),
                       InsteadOf(chip));
    }
    const bool stick = (framing->parityBits & kLcrStickParity) != 0 && parity;
    if (stick && !chip.stickParity)
        return Refused("the " + chip.name +
                       " cannot send mark or space parity (it would send odd or even instead).");
    return {};
}

LineOutcome CannotSend(const Chip& chip, std::optional<double> rate,
                       const std::optional<Framing>& framing) {
    if (!rate)
        return CannotSend(chip, std::nullopt, 0, framing);
    return CannotSend(chip, DivisorForRate(*rate), *rate, framing);
}

std::string StopBitsTold(const Chip& chip, const Framing& framing) {
    if (framing.stopBits == 0)
        return {};
    const std::string asked = framing.StopCountText();
    const std::string told = chip.oneStopBitOnly       ? "1"
                             : framing.DataBits() == 5 ? chip.fiveBitStop
                                                       : asked;
    if (told.empty() || told == asked)
        return {};
    return asked + " stop bits asked, this chip is told " + told;
}

}  // namespace usb
