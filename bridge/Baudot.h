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

// ASCII to codes. Letters go upper-case; a LTRS or FIGS goes out only when the row changes (a
// space, CR and LF are in both rows and change nothing); after CR, `crFill` fill codes, which
// leave the machine in letters. With `unshiftOnSpace` the receiving machine may have gone back
// to letters at a space sent in figures (many do), or not: the next character that is in one
// row only gets its shift either way, FIGS or LTRS. A character the code set cannot print goes
// as the figures row's "?" where it has one, and is counted; a UTF-8 sequence counts as one
// character, and so does a continuation byte that no lead byte announced. NUL goes as the
// blank code. The machine is taken to start in letters.
//
// With `columns` (0: off) the carriage is followed as the machine moves it: printing characters
// and the space advance it, CR returns it, the shifts and LF do not. A line that would pass the
// width ends at its last space within the last kBreakZone columns, else at the width, with the
// CR, fill and LF a typed CR and LF would give; a space at the break becomes the line end. A word
// is held back only while it could still end a line: until the next space or CR, or until the
// line ends at the width.
class Encoder {
  public:
    // The columns at the carriage's end in which a space may end a line.
    static constexpr int kBreakZone = 10;

    Encoder(const CodeSet& codeSet, int crFill, bool unshiftOnSpace = true, int columns = 0)
        : set_(codeSet), crFill_(crFill), unshiftOnSpace_(unshiftOnSpace), columns_(columns) {}

    // Appends the codes that send one byte of the terminal's text (none while it is held back).
    void Put(unsigned char byte, std::vector<Code>& codes);
    void Put(std::string_view text, std::vector<Code>& codes);

    std::size_t Characters() const { return characters_; }
    std::size_t Unprintable() const { return unprintable_; }
    // Characters held back at the carriage's end, not sent yet.
    std::size_t Held() const { return held_.size(); }
    // Forgets what is held back (thrown away with the rest of what waits).
    void DropHeld() { held_.clear(); }
    // How many codes each character took, in the order they went out, since the last call.
    std::vector<std::size_t> TakeSizes() { return std::exchange(sizes_, {}); }

  private:
    // Sends `c` from whichever row has it, shifting first if that is not the current row.
    bool Send(char c, std::vector<Code>& codes);
    // Sends one character of the terminal's text as its codes.
    void Emit(unsigned char byte, std::vector<Code>& codes);
    // Follows the carriage for one character, holding back or ending the line as due.
    void Place(unsigned char byte, std::vector<Code>& codes);
    // Sends what is held back.
    void Release(std::vector<Code>& codes);
    // CR, the fill and LF: codes that belong to the character they make room for.
    void EndLine(std::vector<Code>& codes);

    const CodeSet& set_;
    int crFill_;
    bool unshiftOnSpace_;
    Shift shift_ = Shift::Letters;
    bool shiftUnsure_ = false;  // a space went out in figures: either row may be in force
    int continuations_ = 0;     // bytes still due to the UTF-8 character already sent
    std::size_t characters_ = 0;
    std::size_t unprintable_ = 0;
    int columns_;
    int column_ = 0;           // the carriage's place: columns printed on this line, held ones too
    std::string held_;         // a space where the line may end, and what has come after it
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
