// SPDX-License-Identifier: GPL-3.0-or-later
#include "bridge/Baudot.h"

#include <algorithm>

namespace bridge {
namespace {

// UTF-8: from kAsciiEnd up to kLead2 the continuation bytes (10xxxxxx), then the lead bytes of
// two-, three- and four-byte characters; from kNoLead on, bytes that start nothing.
constexpr unsigned char kAsciiEnd = 0x80;
constexpr unsigned char kLead2 = 0xC0;
constexpr unsigned char kLead3 = 0xE0;
constexpr unsigned char kLead4 = 0xF0;
constexpr unsigned char kNoLead = 0xF8;

// How many continuation bytes the UTF-8 lead byte `byte` announces.
int Continuations(unsigned char byte) {
    if (byte < kLead2 || byte >= kNoLead)
        return 0;
    return byte >= kLead4 ? 3 : byte >= kLead3 ? 2 : 1;
}

// The code that prints `c` in `row`, or -1.
int Find(const std::array<char, kCodeCount>& row, char c) {
    if (c == kNone)
        return -1;
    const auto at = std::find(row.begin(), row.end(), c);
    return at == row.end() ? -1 : static_cast<int>(at - row.begin());
}

const std::array<char, kCodeCount>& Row(const CodeSet& set, Shift shift) {
    return shift == Shift::Letters ? set.letters : set.figures;
}

char UpperCase(unsigned char c) {
    return static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
}

}  // namespace

bool Encoder::Send(char c, std::vector<Code>& codes) {
    int code = Find(Row(set_, shift_), c);
    const bool inBothRows =
        code >= 0 && Row(set_, Shift::Letters)[static_cast<std::size_t>(code)] ==
                         Row(set_, Shift::Figures)[static_cast<std::size_t>(code)];
    if (code >= 0 && shiftUnsure_ && !inBothRows) {
        codes.push_back(shift_ == Shift::Letters ? kLetters : kFigures);
        shiftUnsure_ = false;
    }
    if (code < 0) {
        const Shift other = shift_ == Shift::Letters ? Shift::Figures : Shift::Letters;
        code = Find(Row(set_, other), c);
        if (code < 0)
            return false;
        codes.push_back(other == Shift::Letters ? kLetters : kFigures);
        shift_ = other;
        shiftUnsure_ = false;
    }
    codes.push_back(static_cast<Code>(code));
    if (code == kSpace && shift_ == Shift::Figures && unshiftOnSpace_)
        shiftUnsure_ = true;
    return true;
}

void Encoder::Put(unsigned char byte, std::vector<Code>& codes) {
    const bool continuation = byte >= kAsciiEnd && byte < kLead2;
    if (continuation && continuations_ > 0) {
        --continuations_;
        return;  // the rest of a character already counted
    }
    continuations_ = continuation ? 0 : Continuations(byte);  // a stray one is a character
    ++characters_;
    if (byte == '\0') {
        codes.push_back(kBlank);
        return;
    }
    if (byte >= kAsciiEnd || !Send(UpperCase(byte), codes)) {
        ++unprintable_;
        Send(kStandIn, codes);
        return;
    }
    if (byte == '\r' && crFill_ > 0) {
        codes.insert(codes.end(), static_cast<std::size_t>(crFill_), kFill);
        shift_ = Shift::Letters;
        shiftUnsure_ = false;
    }
}

void Encoder::Put(std::string_view text, std::vector<Code>& codes) {
    for (const char c : text)
        Put(static_cast<unsigned char>(c), codes);
}

void Decoder::Put(Code code, std::string& text) {
    code &= kCodeMask;
    if (code == kLetters || code == kFigures) {
        shift_ = code == kLetters ? Shift::Letters : Shift::Figures;
        return;
    }
    if (code == kBlank)
        return;
    const char c = Row(set_, shift_)[code];
    if (code == kSpace && unshiftOnSpace_)
        shift_ = Shift::Letters;
    ++characters_;
    if (c == kNone) {
        ++unprintable_;
        text += kStandIn;
        return;
    }
    text += c;
}

const TestPattern* FindTestPattern(std::string_view name) {
    for (const TestPattern& pattern : kTestPatterns) {
        if (pattern.name == name)
            return &pattern;
    }
    return nullptr;
}

}  // namespace bridge
