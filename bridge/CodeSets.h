// SPDX-License-Identifier: GPL-3.0-or-later
// The five-bit teleprinter codes the bridge speaks: ITA2 and its US variant, as their charts give
// them. A code is the five data bits in the order the UART sends them, bit 0 first.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace bridge {

using Code = std::uint8_t;

inline constexpr std::size_t kCodeCount = 32;
inline constexpr Code kCodeMask = 0x1F;  // what a five-bit word can hold

// Codes that mean the same in both shifts and in both code sets.
inline constexpr Code kBlank = 0x00;           // no character, no movement
inline constexpr Code kLineFeed = 0x02;        // LF
inline constexpr Code kSpace = 0x04;           // SP
inline constexpr Code kCarriageReturn = 0x08;  // CR
inline constexpr Code kFigures = 0x1B;         // FIGS: the figures row from here on
inline constexpr Code kLetters = 0x1F;         // LTRS: the letters row from here on
// Sent after a carriage return to give the carriage time to get back: LTRS prints nothing and
// leaves the machine in letters, where most text goes on.
inline constexpr Code kFill = kLetters;

// In a row: the code prints nothing in that shift (blank, the shifts, and ITA2's figures kept
// for national use).
inline constexpr char kNone = '\0';
inline constexpr char kBel = '\a';
inline constexpr char kWhoAreYou = '\x05';  // WRU, the answer-back request; ASCII's ENQ
// What a character without a code is sent as, where the figures row has it.
inline constexpr char kStandIn = '?';

struct CodeSet {
    std::string_view name;   // as --code takes it
    std::string_view title;  // as messages show it
    std::array<char, kCodeCount> letters;
    std::array<char, kCodeCount> figures;
};

// clang-format off
// The letters row, the same in both code sets.
inline constexpr std::array<char, kCodeCount> kLettersRow{
    // 0x00 ...                                                   0x07
    kNone, 'E',  '\n', 'A',  ' ',  'S',  'I',  'U',
    // 0x08 ...                                                   0x0F
    '\r',  'D',  'R',  'J',  'N',  'F',  'C',  'K',
    // 0x10 ...                                                   0x17
    'T',   'Z',  'L',  'W',  'H',  'Y',  'P',  'Q',
    // 0x18 ...              FIGS                                 LTRS
    'O',   'B',  'G',  kNone, 'M', 'X',  'V',  kNone,
};

inline constexpr CodeSet kIta2{
    "ita2", "ITA2",
    kLettersRow,
    {kNone, '3',  '\n', '-',  ' ',  '\'', '8',  '7',
     '\r',  kWhoAreYou, '4', kBel, ',', kNone, ':', '(',
     '5',   '+',  ')',  '2',  kNone, '6', '0',  '1',
     '9',   '?',  kNone, kNone, '.', '/', '=',  kNone},
};

inline constexpr CodeSet kUstty{
    "ustty", "US-TTY",
    kLettersRow,
    {kNone, '3',  '\n', '-',  ' ',  kBel, '8',  '7',
     '\r',  '$',  '4',  '\'', ',',  '!',  ':',  '(',
     '5',   '"',  ')',  '2',  '#',  '6',  '0',  '1',
     '9',   '?',  '&',  kNone, '.', '/',  ';',  kNone},
};
// clang-format on

inline constexpr std::array<const CodeSet*, 2> kCodeSets{&kIta2, &kUstty};

// The code set --code names, or null.
const CodeSet* FindCodeSet(std::string_view name);

}  // namespace bridge
