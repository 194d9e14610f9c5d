// SPDX-License-Identifier: GPL-3.0-or-later
// The cases run inside the emulated PC, shared by the program that runs them there and the test
// that checks what the emulator's UART saw.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace emulated {

// Written to a UART's scratch register between cases, so that the emulator's trace can be cut
// into them; the kernel's own probing writes 0xA5 and 0x5A there, never these.
inline constexpr std::uint8_t kCaseMarker = 0xC3;
inline constexpr std::uint8_t kEndMarker = 0x3C;
// Opens a case of the bridge's own run instead; kEndMarker ends that run too.
inline constexpr std::uint8_t kBridgeMarker = 0xB7;
// Opens a step of a hold's run (a terminal program beside quorlix --hold); kEndMarker ends it.
inline constexpr std::uint8_t kHoldMarker = 0xD2;
// Opens a case run on QEMU's FTDI adapter (/dev/ttyUSB0), whose requests the trace logs on their
// own; the UART only carries the marker. kEndMarker ends the case.
inline constexpr std::uint8_t kFtdiMarker = 0xE1;

// The UARTs the emulated PC has, and which of them each group uses.
inline constexpr std::array<std::uint16_t, 4> kGuestUarts{0x2F8, 0x3E8, 0x260, 0x3E0};
inline constexpr std::array<int, 3> kScriptedDigits{2, 8, 4};  // 0x2F8, 0x260, 0x3E0
inline constexpr int kPanelDigit = 3;                          // 0x3E8

inline constexpr std::array<double, 7> kPresetRates{45.45, 50.0, 56.9, 74.2, 100.0, 110.0, 300.0};
inline constexpr std::array<int, 5> kParities{0x00, 0x08, 0x18, 0x28, 0x38};

struct FramingCase {
    double rate;
    int wordLength;  // 0..3
    int parity;
    int stop;  // 0 or 4
};

// Every preset rate with every word length, parity and stop setting: 7 x 4 x 5 x 2.
inline std::vector<FramingCase> FramingCases() {
    std::vector<FramingCase> cases;
    for (double rate : kPresetRates) {
        for (int wordLength = 0; wordLength < 4; ++wordLength) {
            for (int parity : kParities) {
                for (int stop : {0, 4})
                    cases.push_back({rate, wordLength, parity, stop});
            }
        }
    }
    return cases;
}

// The modem-control value set up before the modem-line cases: OUT1, OUT2 and loop-back on, so
// that keeping them is visible.
inline constexpr std::uint8_t kModemSetup = 0x1C;

struct ModemCase {
    std::uint8_t mask;
    bool on;
};
inline constexpr std::array<ModemCase, 4> kModemCases{{
    {0x01, true},
    {0x02, true},
    {0x01, false},
    {0x02, false},
}};

}  // namespace emulated
