// SPDX-License-Identifier: GPL-3.0-or-later
// What opening a port, changing its line or looking at it came to, as one value. The hardware
// layers make it and say what the hardware did and why; what to do about it, where that names
// the command line, is added where the command line is known.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace uart {

// What a rate gives on the UART: the divisor it programs, the rate that divisor produces and the
// error against the rate asked for. Divisor 0 produces no defined rate: `produced` and
// `errorPercent` are then 0.
struct RateReport {
    double asked;
    std::uint16_t divisor;
    double produced;      // kDivisorBase / divisor
    double errorPercent;  // (produced - asked) / asked * 100
};

// The rate a line runs at when it is not the divisor's own: what a driver set in its place, or
// what the chip behind the driver really makes of the rate it was asked for.
struct RunningRate {
    double rate = 0;     // where not `known`, the rate the driver reports
    std::string source;  // who sets or runs it, as said before the rate: "the CH340 runs"
    bool known = true;   // false: what the chip really runs cannot be known
};

// What would put a line the hardware refused on the wire. How to reach it is said where the
// command line is known.
enum class Instead : std::uint8_t {
    Nothing,
    Card,                      // a 16550 card: the chip is one of those that serve teleprinters
    TeleprinterAdapterOrCard,  // a PL2303 or CH340 adapter, or a 16550 card
    Pl011,                     // the Raspberry Pi's PL011, in the mini UART's place on the header
};

// What one open, change or look came to: everything the backend had to say about it.
struct LineOutcome {
    std::optional<RateReport> rate;      // what the divisor written gives; none: left alone
    std::optional<RunningRate> running;  // the rate the line runs at instead, if any
    std::string notice;                  // what the backend had to say; empty: nothing
    bool failed = false;                 // the change, look or open did not go as asked
    Instead instead = Instead::Nothing;  // where the hardware refused the line
    int error = 0;  // for a failed open: the errno value behind it, where there is one

    // Adds what a later step of the same change came to.
    void Add(LineOutcome later);
};

}  // namespace uart
