// SPDX-License-Identifier: GPL-3.0-or-later
// The bridge's loop and its ends: the serial port, a pseudo-terminal for the user's terminal
// program, and the signals that stop it. The loop sleeps in poll() until one of them has
// something, moves what it can, and never waits on a full side while the other has data.
#pragma once

// termios2 comes from the kernel's own header; <termios.h> must not be mixed in.
#include <asm/termbits.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "bridge/Baudot.h"
#include "bridge/CodeSets.h"
#include "os/StatusOutput.h"
#include "serial/SerialDriver.h"

namespace bridge {

class Spool;

// Raw data both ways: no line editing, no signals from characters, no output processing, no
// flow control by characters, no translation of CR and NL; the receiver on and the modem
// lines' state ignored. The rate and framing fields are left as they are.
void MakeRaw(termios2& termios);

// A pseudo-terminal whose other side any terminal program can open. Its own side is
// non-blocking; the program keeps the other side open too, so that the pair lives (and keeps
// its raw settings) while terminal programs come and go.
class PseudoTerminal {
  public:
    // Null with `error` set when none can be had.
    static std::unique_ptr<PseudoTerminal> Open(std::string& error);
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    int Fd() const { return master_; }
    const std::string& Path() const { return path_; }  // the side to open, /dev/pts/N

  private:
    explicit PseudoTerminal(int master) : master_(master) {}
    int master_;
    int slave_ = -1;
    std::string path_;
};

struct Counts {
    std::size_t sent = 0;         // characters from the terminal (or the pattern) that left
    std::size_t received = 0;     // characters given to the terminal
    std::size_t unprintable = 0;  // of both, those the other side has no character for
    std::size_t thrownAway = 0;   // characters taken but not sent: held here at the end, or
                                  // waiting in the driver when SIGINT flushed it
    std::size_t dropped = 0;      // control characters typed that no code means: never sent
    std::size_t job = 0;          // --print: the job's characters, all of them
    int signal = 0;               // the stop signal that ended the run, where one did
};

struct PumpSetup {
    int port = -1;      // the serial port: raw, non-blocking
    int terminal = -1;  // the pseudo-terminal's own side: non-blocking
    int stop = -1;      // readable when a signal came: one byte, its number
    const CodeSet* codeSet = &kIta2;
    int crFill = 2;
    bool unshiftOnSpace = true;
    std::string_view pattern;  // sent over and over instead of the terminal's text; empty: none
    // Where what the loop had to do is said, without ever waiting for its reader; none: not said.
    os::StatusOutput* notices = nullptr;
    int columns = 0;  // the carriage's width; 0: not followed
    Newline newline = Newline::CrLf;
    // Keyboard and printer in series on one loop: what comes back from the line while codes
    // go out is matched against them, each once, and dropped; the first code that does not
    // match, and what follows it, is the keyboard's.
    bool halfDuplex = false;
    // The motor's modem line (kMcrDtr or kMcrRts), switched through the installed backend; 0:
    // none.
    std::uint8_t motor = 0;
    double motorStart = 1.0;  // seconds from the motor's start to the first code
    double motorIdle = 30;    // quiet seconds before the motor goes off
    // The port's driver, asked how many codes it still holds; none: none are known to be held.
    serial::SerialDriver* driver = nullptr;
    double codeSeconds = 0.2;  // one code's time on the line: start, data and stop bits
    // The time left is shown among the notices while more than kShownAfter of text waits (they
    // go to a terminal).
    bool progress = false;
    // The port's input marks a break as \377 \0 \0 (PARMRK): a break from the line throws
    // away what waits to be sent, as Ctrl+C does, and the bridge goes on.
    bool breaksMarked = false;
    // --print: the text sent once in place of a terminal's (`terminal` is then -1); the loop
    // ends once its last code has left the line, or a break from the line stops it.
    const std::string* print = nullptr;
    // --spool: jobs dropped into a folder, printed whole between typed lines; none: none.
    Spool* spool = nullptr;
};

// The time left is shown once more than this much text waits.
inline constexpr double kShownAfter = 3.0;

// One code's time on a line at `rate` baud: a start bit, the data bits, the parity bit where
// there is one, and the stop bits.
double CodeSeconds(double rate, int dataBits, bool parity, double stopBits);

// "sending: 120 sent, 1255 waiting, 3 min 27 s for those": only what is known. The terminal
// program may hold more that the bridge has not taken yet, so no total is claimed; what waits
// is the bridge's own and the driver's.
std::string TimeLeftText(std::size_t sent, std::size_t waiting, double seconds);

// "printing: 1200 of 8789 characters, 23 min 05 s left", or with the job's name, "printing
// news.txt: ...": a job's whole is known from its start.
std::string PrintingText(std::string_view name, std::size_t printed, std::size_t total,
                         double seconds);

enum class Ending {
    Interrupted,   // SIGINT, or a second stop signal while the port drained: what the port had
                   // not sent yet was thrown away
    Terminated,    // SIGTERM or SIGHUP
    PortGone,      // the port hung up or failed
    TerminalGone,  // the pseudo-terminal hung up or failed: no terminal program can reach it
    Printed,       // --print: the job's last code has left the line
    Broken,        // --print: a break from the line stopped the job; what waited was thrown away
};

// Moves text from the terminal (or the pattern) to the port as codes and codes from the port to
// the terminal as text until a signal comes or either side goes away, adding to `counts`. With a
// motor line, the motor is dropped at the start unless there is text to send, raised before
// codes go out (which wait `motorStart` seconds for it), kept up while text goes out or comes in,
// and dropped after `motorIdle` quiet seconds, and at the end: at once after Ctrl+C's flush,
// once the driver has sent what it holds after SIGTERM or SIGHUP (a second stop signal meanwhile
// flushes it as Ctrl+C does, and ends at once). Echo on the pseudo-terminal
// would send everything received back to the port (for ever, on a line that loops back): a
// terminal program that turns it on finds it off again, and that is said once. A character
// counts as sent once all of its codes have left the driver (or, after SIGTERM, are left to it);
// terminal programs that open and close the pseudo-terminal end nothing, since PseudoTerminal
// keeps its other side open. A job (--print's, or one from the spool between typed lines) is
// done once its last code has left the line: the driver's queue is empty, and its transmitter
// where the driver tells, else a code's time later.
Ending RunPump(const PumpSetup& setup, Counts& counts);

}  // namespace bridge
