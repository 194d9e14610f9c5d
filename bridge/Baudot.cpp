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
constexpr unsigned char kContinuationBits = 0x3F;
// What a broken UTF-8 sequence or a byte that starts nothing reads as: U+FFFD, which has no
// spelling.
constexpr char32_t kBroken = 0xFFFD;

constexpr unsigned char kDelete = 0x7F;
constexpr unsigned char kEscape = 0x1B;
constexpr unsigned char kControlEnd = 0x20;  // C0: the controls below the space
constexpr char kTab = '\t';

// How many continuation bytes the UTF-8 lead byte `byte` announces.
int Continuations(unsigned char byte) {
    if (byte < kLead2 || byte >= kNoLead)
        return 0;
    return byte >= kLead4 ? 3 : byte >= kLead3 ? 2 : 1;
}

// A control character with no Baudot meaning: dropped, never sent.
bool IsDropped(unsigned char byte) {
    if (byte == kDelete)
        return true;
    return byte < kControlEnd && byte != '\0' && byte != kTab && byte != '\n' && byte != '\r' &&
           byte != kBel && byte != kWhoAreYou;
}

// The letters the Latin-1 and Latin Extended-A letters print as, from kSpeltFrom on: the base
// letter, "?" for the two signs among them (× and ÷); kSpellings overrides.
constexpr char32_t kSpeltFrom = 0xC0;
// clang-format off
constexpr std::string_view kBaseLetters =
    // U+00C0 ...        U+00D0 ...
    "AAAAAAACEEEEIIII" "DNOOOOO?OUUUUYTS"
    // U+00E0 ...        U+00F0 ...
    "AAAAAAACEEEEIIII" "DNOOOOO?OUUUUYTY"
    // U+0100 ...        U+0110 ...
    "AAAAAACCCCCCCCDD" "DDEEEEEEEEEEGGGG"
    // U+0120 ...        U+0130 ...
    "GGGGHHHHIIIIIIII" "IIIIJJKKKLLLLLLL"
    // U+0140 ...        U+0150 ...
    "LLLNNNNNNNNNOOOO" "OOOORRRRRRSSSSSS"
    // U+0160 ...        U+0170 ...
    "SSTTTTTTUUUUUUUU" "UUUUWWYYYZZZZZZS";
// clang-format on

// Letters telex spells with two: the umlauts and ß as German practice has them, the ligatures
// (Æ, Œ, Ĳ) and the thorn as they are read.
struct Spelling {
    char32_t codePoint;
    std::string_view letters;
};
constexpr Spelling kSpellings[] = {
    {0xC4, "AE"},  {0xE4, "AE"},   {0xD6, "OE"}, {0xF6, "OE"}, {0xDC, "UE"},  {0xFC, "UE"},
    {0xDF, "SS"},  {0x1E9E, "SS"}, {0xC6, "AE"}, {0xE6, "AE"}, {0x152, "OE"}, {0x153, "OE"},
    {0x132, "IJ"}, {0x133, "IJ"},  {0xDE, "TH"}, {0xFE, "TH"},
};

// How telex spells `codePoint`, a letter beyond ASCII; empty: it has no spelling.
std::string_view Spelt(char32_t codePoint) {
    for (const Spelling& spelling : kSpellings) {
        if (spelling.codePoint == codePoint)
            return spelling.letters;
    }
    if (codePoint < kSpeltFrom || codePoint - kSpeltFrom >= kBaseLetters.size() ||
        kBaseLetters[codePoint - kSpeltFrom] == kStandIn)
        return {};
    return kBaseLetters.substr(codePoint - kSpeltFrom, 1);
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
        codePoint_ = codePoint_ << 6 | (byte & kContinuationBits);
        if (--continuations_ == 0)  // ASCII in more bytes than it needs is no character
            Take(codePoint_ < kAsciiEnd ? kBroken : codePoint_, codes);
        return;
    }
    if (std::exchange(continuations_, 0) > 0)
        Take(kBroken, codes);  // cut short: counted at its lead byte
    if (InEscape(byte))
        return;
    if (IsDropped(byte)) {
        ++dropped_;
        if (byte == kEscape)
            escape_ = Escape::Begun;
        return;
    }
    ++characters_;
    continuations_ = Continuations(byte);
    if (continuations_ > 0) {
        codePoint_ = byte & (0x7F >> (continuations_ + 1));  // the lead byte's share
        return;
    }
    Take(byte < kAsciiEnd ? byte : kBroken, codes);
}

void Encoder::Take(char32_t codePoint, std::vector<Code>& codes) {
    if (newline_ == Newline::CrLf && (codePoint == '\r' || codePoint == '\n')) {
        TakeLineEnd(codePoint, codes);
        return;
    }
    lineEndedBy_ = 0;
    if (codePoint == '\r') {
        Release(codes);
        Emit("\r", codes);
        column_ = 0;
        return;
    }
    const char c = codePoint < kAsciiEnd ? static_cast<char>(codePoint) : kNone;
    if (c == '\n') {
        Release(codes);  // printed where it was typed, above the line feed
        Emit("\n", codes);
        return;
    }
    // What leaves the carriage where it is goes at once, even past a held word.
    if (codePoint == '\0' || ((c == kBel || c == kWhoAreYou) && Has(c))) {
        Emit(std::string_view(&c, 1), codes);
        return;
    }
    std::string glyphs = Glyphs(codePoint);
    if (glyphs.empty()) {
        ++unprintable_;
        glyphs.assign(1, kStandIn);
    }
    Place(std::move(glyphs), codes);
}

void Encoder::TakeLineEnd(char32_t codePoint, std::vector<Code>& codes) {
    if (lineEndedBy_ != 0 && lineEndedBy_ != codePoint) {
        lineEndedBy_ = 0;
        sizes_.push_back(0);  // CR LF or LF CR: one line end, which went with the first
        return;
    }
    lineEndedBy_ = codePoint;
    Release(codes);
    EndLine(codes);
    sizes_.push_back(std::exchange(lineEnd_, 0));
}

bool Encoder::Has(char c) const {
    return Find(set_.letters, c) >= 0 || Find(set_.figures, c) >= 0;
}

std::string Encoder::Glyphs(char32_t codePoint) const {
    if (codePoint == static_cast<unsigned char>(kTab)) {
        int width = kTabStop - column_ % kTabStop;
        if (columns_ > 0)  // never past the width; at the width, a space: the line's end
            width = std::max(1, std::min(width, columns_ - column_));
        return std::string(static_cast<std::size_t>(width), ' ');
    }
    if (codePoint >= kAsciiEnd)
        return std::string(Spelt(codePoint));
    const char c = UpperCase(static_cast<unsigned char>(codePoint));
    return Has(c) ? std::string(1, c) : std::string();
}

void Encoder::Emit(std::string_view glyphs, std::vector<Code>& codes) {
    const std::size_t before = codes.size();
    for (const char c : glyphs) {
        if (c == '\0') {
            codes.push_back(kBlank);
            continue;
        }
        Send(c, codes);
        if (c == '\r' && crFill_ > 0) {
            codes.insert(codes.end(), static_cast<std::size_t>(crFill_), kFill);
            shift_ = Shift::Letters;
            shiftUnsure_ = false;
        }
    }
    sizes_.push_back(codes.size() - before + std::exchange(lineEnd_, 0));
}

bool Encoder::InEscape(unsigned char byte) {
    switch (std::exchange(escape_, Escape::None)) {
        case Escape::None:
            return false;
        case Escape::Begun:  // ESC and any other byte is Alt and a key: the key goes as typed
            escape_ = byte == '[' ? Escape::Csi : byte == 'O' ? Escape::Ss3 : Escape::None;
            return escape_ != Escape::None;
        case Escape::Csi:  // parameters and intermediates, then the final byte
            if (byte >= 0x20 && byte < 0x40) {
                escape_ = Escape::Csi;
                return true;
            }
            return byte >= 0x40 && byte < kDelete;
        case Escape::Ss3:
            return byte >= 0x20 && byte < kDelete;
    }
    return false;
}

void Encoder::Finish(std::vector<Code>& codes) {
    if (std::exchange(continuations_, 0) > 0)
        Take(kBroken, codes);
    Release(codes);
}

void Encoder::Release(std::vector<Code>& codes) {
    for (const std::string& glyphs : std::exchange(held_, {}))
        Emit(glyphs, codes);
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

void Encoder::Place(std::string glyphs, std::vector<Code>& codes) {
    const int width = static_cast<int>(glyphs.size());
    const bool space = glyphs.front() == ' ';  // a space or a tab's spaces
    if (columns_ > 0 && column_ + width > columns_) {
        if (space) {
            // The line is full: this space is its end.
            Release(codes);
            EndLine(codes);
            sizes_.push_back(std::exchange(lineEnd_, 0));
            return;
        }
        if (!held_.empty()) {
            // The space held back becomes the line end; the word after it starts the next line.
            std::vector<std::string> word = std::exchange(held_, {});
            sizes_.push_back(0);  // that space: its codes are the line end's, sent with the word
            EndLine(codes);
            for (auto letters = word.begin() + 1; letters != word.end(); ++letters) {
                Emit(*letters, codes);
                column_ += static_cast<int>(letters->size());
            }
        } else {
            EndLine(codes);  // no space where the line could end: it ends at the width
        }
    }
    column_ += width;
    if (columns_ == 0)
        column_ %= kTabStop;  // only the tab stops count: a line without end may be long
    if (columns_ > 0 && space && column_ > columns_ - kBreakZone) {
        Release(codes);  // what came before fits
        held_.push_back(std::move(glyphs));
    } else if (!held_.empty()) {
        held_.push_back(std::move(glyphs));
    } else {
        Emit(glyphs, codes);
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

void Decoder::Follow(Code code) {
    code &= kCodeMask;
    if (code == kLetters || code == kFigures)
        shift_ = code == kLetters ? Shift::Letters : Shift::Figures;
    else if (code == kSpace && unshiftOnSpace_)
        shift_ = Shift::Letters;
}

const TestPattern* FindTestPattern(std::string_view name) {
    for (const TestPattern& pattern : kTestPatterns) {
        if (pattern.name == name)
            return &pattern;
    }
    return nullptr;
}

}  // namespace bridge
