// SPDX-License-Identifier: GPL-3.0-or-later
#include "uart/Framing.h"

// termios2's flags come from the kernel's own header; <termios.h> must not be mixed in.
#include <asm/termbits.h>

#include <cctype>
#include <type_traits>

#include "os/CLocale.h"

namespace uart {
namespace {

static_assert(std::is_same_v<tcflag_t, std::uint32_t>);

// clang-format off
constexpr struct {
    std::uint8_t bits;
    char letter;
    const char* name;
    tcflag_t flags;
} kParities[] = {
    {kParityNone,  'N', "no parity",    0},
    {kParityOdd,   'O', "odd parity",   PARENB | PARODD},
    {kParityEven,  'E', "even parity",  PARENB},
    {kParityMark,  'M', "mark parity",  PARENB | PARODD | CMSPAR},
    {kParitySpace, 'S', "space parity", PARENB | CMSPAR},
};
// clang-format on

constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};

const auto& ParityOf(std::uint8_t bits) {
    for (const auto& parity : kParities) {
        if (parity.bits == bits)
            return parity;
    }
    return kParities[0];
}

}  // namespace

Framing Framing::FromLineControl(std::uint8_t lineControl) {
    Framing framing;
    framing.wordLengthBits = static_cast<std::uint8_t>(lineControl & kLcrWordLengthMask);
    framing.stopBits = static_cast<std::uint8_t>(lineControl & kLcrStop);
    framing.parityBits = (lineControl & kLcrParityEnable) != 0
                             ? static_cast<std::uint8_t>(lineControl & kLcrParityMask)
                             : kParityNone;
    return framing;
}

std::uint8_t Framing::LineControl() const {
    return static_cast<std::uint8_t>((parityBits & kLcrParityMask) |
                                     (wordLengthBits & kLcrWordLengthMask) | (stopBits & kLcrStop));
}

double Framing::StopCount() const {
    if (stopBits == 0)
        return 1;
    return wordLengthBits == kLcrWordLength5 ? 1.5 : 2;
}

std::string Framing::StopCountText() const {
    return os::FormatC("%g", StopCount());
}

std::string Framing::Description() const {
    return std::to_string(DataBits()) + " data bits, " + ParityOf(parityBits).name + ", " +
           StopCountText() + (stopBits == 0 ? " stop bit" : " stop bits");
}

std::string Framing::Compact() const {
    return std::to_string(DataBits()) + ParityOf(parityBits).letter + StopCountText();
}

std::optional<Framing> Framing::Parse(std::string_view text, std::string& error) {
    const std::string quoted = "framing '" + std::string(text) + "'";
    error = quoted + " is not like 5N1.5, 8E1 or 7M2";
    if (text.size() < 3 || text[0] < '5' || text[0] > '8')
        return std::nullopt;
    Framing framing;
    framing.wordLengthBits = static_cast<std::uint8_t>(text[0] - '5');
    const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(text[1])));
    bool known = false;
    for (const auto& parity : kParities) {
        if (parity.letter == letter) {
            framing.parityBits = parity.bits;
            known = true;
        }
    }
    if (!known)
        return std::nullopt;
    const std::string_view stop = text.substr(2);
    if (stop != "1" && stop != "1.5" && stop != "2")
        return std::nullopt;
    framing.stopBits = stop == "1" ? 0 : kLcrStop;
    if (stop != "1" && stop != framing.StopCountText()) {
        error = quoted +
                (stop == "2" ? ": five-bit words cannot have 2 stop bits"
                             : ": 1.5 stop bits exist only with five-bit words") +
                "; the longer stop of " + std::to_string(framing.DataBits()) + "-bit words is " +
                framing.Compact();
        return std::nullopt;
    }
    error.clear();
    return framing;
}

std::uint32_t Framing::TermiosFlags() const {
    tcflag_t flags = kSizes[wordLengthBits & kLcrWordLengthMask] | ParityOf(parityBits).flags;
    if (stopBits != 0)
        flags |= CSTOPB;
    return flags;
}

Framing Framing::FromTermios(std::uint32_t controlFlags) {
    Framing framing;
    for (std::uint8_t size = 0; size < 4; ++size) {
        if ((controlFlags & CSIZE) == kSizes[size])
            framing.wordLengthBits = size;
    }
    framing.stopBits = (controlFlags & CSTOPB) != 0 ? kLcrStop : 0;
    const tcflag_t parity =
        (controlFlags & PARENB) != 0 ? controlFlags & (PARENB | PARODD | CMSPAR) : 0;
    for (const auto& candidate : kParities) {
        if (candidate.flags == parity)
            framing.parityBits = candidate.bits;
    }
    return framing;
}

std::uint32_t Framing::TermiosMask() {
    return CSIZE | CSTOPB | PARENB | PARODD | CMSPAR;
}

}  // namespace uart
