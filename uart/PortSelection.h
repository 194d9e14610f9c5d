// SPDX-License-Identifier: GPL-3.0-or-later
// Choosing the UART from the command line's digit, and the text that announces it.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace uart {

// The base address for each command-line digit 1..8.
struct PortChoice {
    int digit;
    std::int32_t base;
};
inline constexpr std::array<PortChoice, 8> kPortTable{{
    {1, 0x3F8},
    {2, 0x2F8},
    {3, 0x3E8},
    {4, 0x3E0},  // the address the About box lists for 4
    {5, 0x2F0},
    {6, 0x2E8},
    {7, 0x2E0},
    {8, 0x260},
}};

// A missing, non-numeric or out-of-range digit selects this.
inline constexpr std::int32_t kDefaultPortBase = 0x2F8;

// Scans the whole command line, program name first, as "%s %s" into two 256-byte tokens and
// reads the second as atoi does. Fewer than two tokens, or a number outside 1..8, select the
// default. A token too long for its buffer makes the scan fail rather than spill into the next.
std::int32_t SelectPortFromCommandLine(const char* commandLine);

// "Port - 0x%X" of the base address, e.g. "Port - 0x2F8".
std::string PortAnnouncement(std::int32_t base);

}  // namespace uart

namespace uart {

// The process's command line as one string, program name first, as the panel scans it. Start-up
// forms it from the arguments left after the options; until then it is the bare program name.
const char* GetProcessCommandLine();
void SetProcessCommandLine(std::string commandLine);

}  // namespace uart
