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
    if (columns_ > 0) {
        Place(byte, codes);
    } else {
        Emit(byte, codes);
    }
}

void Encoder::Emit(unsigned char byte, std::vector<Code>& codes) {
    const std::size_t before = codes.size();
    if (byte == '\0') {
        codes.push_back(kBlank);
    } else if (byte >= kAsciiEnd || !Send(UpperCase(byte), codes)) {
        ++unprintable_;
        Send(kStandIn, codes);
    } else if (byte == '\r' && crFill_ > 0) {
        codes.insert(codes.end(), static_cast<std::size_t>(crFill_), kFill);
        shift_ = Shift::Letters;
        shiftUnsure_ = false;
    }
    sizes_.push_back(codes.size() - before + std::exchange(lineEnd_, 0));
}

void Encoder::Release(std::vector<Code>& codes) {
    for (const char c : std::exchange(held_, {}))
        Emit(static_cast<unsigned char>(c), codes);
}

void Encoder::EndLine(std::vector<Code>& codes) {
    const std::size_t before = codes.size();
    Send('\r', codes);
    codes.insert(codes.end(), static_cast<std::size_t>(crFill_), kFill);
    if (crFill_ > 0) {
        shift_ = Shift::Letters;
        shiftUnsure_ = false;
    }
    Send('\n', codes);
    lineEnd_ += codes.size() - before;
    column_ = 0;
}

void Encoder::Place(unsigned char byte, std::vector<Code>& codes) {
    const char c = UpperCase(byte);
    if (c == '\r') {
        Release(codes);
        Emit(byte, codes);
        column_ = 0;
        return;
    }
    // What prints nothing leaves the carriage where it is: the blank, LF, the bell, WRU.
    if (byte == '\0' || c == '\n' || c == kBel || c == kWhoAreYou) {
        if (held_.empty())
            Emit(byte, codes);
        else
            held_.push_back(c);
        return;
    }
    if (column_ + 1 > columns_) {
        if (c == ' ') {
            // The line is full: this space is its end.
            Release(codes);
            EndLine(codes);
            sizes_.push_back(std::exchange(lineEnd_, 0));
            return;
        }
        if (!held_.empty()) {
            // The space held back becomes the line end; the word after it starts the next line.
            std::string word = std::exchange(held_, {}).substr(1);
            sizes_.push_back(0);  // that space: its codes are the line end's, sent with the word
            EndLine(codes);
            for (const char w : word) {
                Emit(static_cast<unsigned char>(w), codes);
                if (w != '\n' && w != kBel && w != kWhoAreYou && w != '\0')
                    ++column_;
            }
        } else {
            EndLine(codes);  // no space where the line could end: it ends at the width
        }
    }
    ++column_;
    if (c == ' ' && column_ > columns_ - kBreakZone) {
        Release(codes);  // what came before fits
        held_.assign(1, ' ');
    } else if (!held_.empty()) {
        held_.push_back(static_cast<char>(byte));
    } else {
        Emit(byte, codes);
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
