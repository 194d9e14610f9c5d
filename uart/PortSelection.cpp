// SPDX-License-Identifier: GPL-3.0-or-later
#include "uart/PortSelection.h"

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <utility>

namespace uart {
namespace {

constexpr int kTokenBufferSize = 256;

bool EndsToken(char c) {
    return c == '\0' || std::isspace(static_cast<unsigned char>(c)) != 0;
}

// atoi's reading (blanks, a sign, leading digits, 0 when there are none) without its undefined
// behaviour on overflow: a number too large for an int saturates, which no table entry matches.
long LeadingNumber(const char* token) {
    long value = std::strtol(token, nullptr, 10);
    if (value > INT_MAX)
        return INT_MAX;
    if (value < INT_MIN)
        return INT_MIN;
    return value;
}

}  // namespace

std::int32_t SelectPortFromCommandLine(const char* commandLine) {
    if (commandLine == nullptr)
        return kDefaultPortBase;
    char program[kTokenBufferSize];
    char argument[kTokenBufferSize];
    int programEnd = 0;
    int argumentEnd = 0;
    const int converted =
        std::sscanf(commandLine, "%255s%n %255s%n", program, &programEnd, argument, &argumentEnd);
    if (converted < 2)
        return kDefaultPortBase;
    if (!EndsToken(commandLine[programEnd]) || !EndsToken(commandLine[argumentEnd])) {
        return kDefaultPortBase;  // a token was longer than its buffer
    }
    const long digit = LeadingNumber(argument);
    for (const PortChoice& choice : kPortTable) {
        if (choice.digit == digit)
            return choice.base;
    }
    return kDefaultPortBase;
}

std::string PortAnnouncement(std::int32_t base) {
    char text[32];
    std::snprintf(text, sizeof text, "Port - 0x%X", static_cast<unsigned>(base));
    return text;
}

}  // namespace uart

namespace uart {
namespace {
std::string processCommandLine = "quorlix";
}

const char* GetProcessCommandLine() {
    return processCommandLine.c_str();
}

void SetProcessCommandLine(std::string commandLine) {
    processCommandLine = std::move(commandLine);
}

}  // namespace uart
