// SPDX-License-Identifier: GPL-3.0-or-later
// Turning a terminal's ASCII into five-bit codes and back, with the shift state each direction
// keeps. Both are plain state machines over a code set: no I/O.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "bridge/CodeSets.h"

namespace bridge {

enum class Shift { Letters, Figures };

// What a line end in the terminal's text becomes.
enum class Newline {
    CrLf,  // LF, CR, CR LF or LF CR each end a line: CR, the fill, LF, once
    Raw,   // CR and LF go as typed, so that a line may be printed over
};

// ASCII (and UTF-8) to codes. Letters go upper-case; a LTRS or FIGS goes out only when the row
// changes (a space, CR and LF are in both rows and change nothing); after CR, `crFill` fill
// codes, which leave the machine in letters. With `unshiftOnSpace` the receiving machine may
// have gone back to letters at a space sent in figures (many do), or not: the next character
// that is in one row only gets its shift either way, FIGS or LTRS. The machine is taken to start
// in letters.
//
// What the code set lacks: a tab goes as spaces to the next multiple of kTabStop columns;
// letters with diacritics as telex spells them (Ä AE, Ö OE, Ü UE, ß SS, the others their base
// letter); control characters with no Baudot meaning (all of C0 but NUL, BEL, WRU, tab, LF and
// CR; DEL) are dropped and counted apart, never sent, and so is a key's escape sequence (ESC [ A
// for an arrow) with its ESC; any other character goes as the figures row's "?" and is counted.
// A UTF-8 sequence is one character, and so is a broken one or a continuation byte that no lead
// byte announced. NUL goes as the blank code.
//
// The carriage is followed as the machine moves it: printing characters and the space advance
// it, CR returns it, the shifts, LF, the blank, the bell and WRU do not. With `columns` (0: off) a
// line that would pass the width ends at its last space within the last kBreakZone columns, else
// at the width, with the line end a typed CR LF gives; a space at the break becomes the line end.
// A word is held back only while it could still end a line: until the next space or line end,
// or until the line ends at the width, so never more than the width. What leaves the carriage
// where it is goes out at once, ahead of a held word; a raw LF sends the word first.
class Encoder {
  public:
    // The columns at the carriage's end in which a space may end a line.
    static constexpr int kBreakZone = 10;
    static constexpr int kTabStop = 8;

    Encoder(const CodeSet& codeSet, int crFill, bool unshiftOnSpace = true, int columns = 0,
            Newline newline = Newline::CrLf)
        : set_(codeSet),
          crFill_(crFill),
          unshiftOnSpace_(unshiftOnSpace),
          columns_(columns),
          newline_(newline) {}

    // Appends the codes that send one byte of the terminal's text (none while it is held back).
    void Put(unsigned char byte, std::vector<Code>& codes);
    void Put(std::string_view text, std::vector<Code>& codes);

    // Characters taken to be sent (the dropped ones apart).
    std::size_t Characters() const { return characters_; }
    std::size_t Unprintable() const { return unprintable_; }
    // Control characters with no Baudot meaning, taken and never sent.
    std::size_t Dropped() const { return dropped_; }
    // Characters held back, not sent yet: at the carriage's end, or the start of a UTF-8 one.
    std::size_t Held() const { return held_.size() + (continuations_ > 0 ? 1 : 0); }
    // The text has ended (a printed job's last byte): what is held back goes out, and a UTF-8
    // character cut short goes as "?".
    void Finish(std::vector<Code>& codes);
    // The carriage's column: 0 at the start of a line.
    int Column() const { return column_; }
    // Forgets what is held back (thrown away with the rest of what waits).
    void DropHeld() {
        held_.clear();
        continuations_ = 0;
    }
    // How many codes each character took, in the order they went out, since the last call.
    std::vector<std::size_t> TakeSizes() { return std::exchange(sizes_, {}); }

  private:
    // Whether `byte` belongs to a terminal's escape sequence begun by a dropped ESC (an arrow or
    // a function key: ESC [ parameters and a final byte, or ESC O and one byte), which goes
    // with it: the key is one control character, not "?A" on the paper.
    bool InEscape(unsigned char byte);
    // Sends `c` from whichever row has it, shifting first if that is not the current row.
    bool Send(char c, std::vector<Code>& codes);
    // Sends one whole character of the terminal's text, `codePoint`, as the machine prints it.
    void Take(char32_t codePoint, std::vector<Code>& codes);
    // Ends a line in --newline crlf: a CR or LF, or the other half of a pair.
    void TakeLineEnd(char32_t codePoint, std::vector<Code>& codes);
    // Whether the code set has `c` in either row.
    bool Has(char c) const;
    // What prints `codePoint`: its letter or figure, its spelling, a tab's spaces; empty: none.
    std::string Glyphs(char32_t codePoint) const;
    // Sends the glyphs of one character, counted as one.
    void Emit(std::string_view glyphs, std::vector<Code>& codes);
    // Follows the carriage for one character's glyphs, holding back or ending the line as due.
    void Place(std::string glyphs, std::vector<Code>& codes);
    // Sends what is held back.
    void Release(std::vector<Code>& codes);
    // CR, the fill and LF: codes that belong to the character they make room for.
    void EndLine(std::vector<Code>& codes);

    const CodeSet& set_;
    int crFill_;
    bool unshiftOnSpace_;
    Shift shift_ = Shift::Letters;
    bool shiftUnsure_ = false;  // a space went out in figures: either row may be in force
    enum class Escape { None, Begun, Csi, Ss3 };
    Escape escape_ = Escape::None;
    int continuations_ = 0;   // bytes still due to the UTF-8 character begun
    char32_t codePoint_ = 0;  // what they have said of it so far
    std::size_t characters_ = 0;
    std::size_t unprintable_ = 0;
    std::size_t dropped_ = 0;
    int columns_;
    Newline newline_;
    char32_t lineEndedBy_ = 0;  // the CR or LF that just ended a line: its pair adds nothing
    int column_ = 0;            // the carriage's place: columns printed on this line, held ones too
    // A space (or tab) where the line may end and the characters after it, each as its glyphs.
    std::vector<std::string> held_;
    std::size_t lineEnd_ = 0;  // codes of a line end, counted with the next character
    std::vector<std::size_t> sizes_;
};

// Codes to ASCII. LTRS and FIGS switch the row and print nothing, nor does the blank; with
// unshift-on-space a space returns to letters, as many machines do. A code with no character
// in the current row comes out as "?" and is counted. Bits above the five are ignored.
class Decoder {
  public:
    Decoder(const CodeSet& codeSet, bool unshiftOnSpace)
        : set_(codeSet), unshiftOnSpace_(unshiftOnSpace) {}

    // Appends what one received code prints.
    void Put(Code code, std::string& text);
    // Follows a code's shift without printing or counting it: the bridge's own code, come back
    // on a half-duplex loop, moved the machine's shift too.
    void Follow(Code code);

    std::size_t Characters() const { return characters_; }
    std::size_t Unprintable() const { return unprintable_; }

  private:
    const CodeSet& set_;
    bool unshiftOnSpace_;
    Shift shift_ = Shift::Letters;
    std::size_t characters_ = 0;
    std::size_t unprintable_ = 0;
};

// The lines --test sends over and over, for setting a machine's range finder.
struct TestPattern {
    std::string_view name;
    std::string_view line;
};
inline constexpr TestPattern kTestPatterns[] = {
    {"ryry", "RYRYRYRYRYRYRYRYRYRYRYRYRYRYRYRYRYRYRYRYRYRYRYRYRYRYRYRYRYRYRYRYRYRY\r\n"},
    {"fox", "THE QUICK BROWN FOX JUMPS OVER THE LAZY DOG 1234567890\r\n"},
};

// The pattern --test names, or null.
const TestPattern* FindTestPattern(std::string_view name);

}  // namespace bridge
