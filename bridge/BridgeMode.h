// SPDX-License-Identifier: GPL-3.0-or-later
// quorlix --bridge: the serial port set for a teleprinter on one side, a pseudo-terminal that
// any terminal program can open on the other, ASCII turned into five-bit codes and back between
// them, until SIGINT, SIGTERM or SIGHUP.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "bridge/Baudot.h"
#include "bridge/Spool.h"
#include "line/LineRequest.h"
#include "serial/SerialDriver.h"
#include "usb/ChipModel.h"

namespace bridge {

// The line when --bridge names none, or names only one half of it.
inline constexpr char kDefaultLine[] = "45.45,5N1.5";
inline constexpr int kDefaultCrFill = 2;
inline constexpr int kMaximumCrFill = 16;
inline constexpr int kMinimumColumns = 20;
inline constexpr int kMaximumColumns = 255;
// The width when --columns names none: the narrower of the usual carriages (69 columns: Creed,
// Siemens; 72: Teletype), so that text never piles up at the margin of either.
inline constexpr int kDefaultColumns = 69;
inline constexpr double kDefaultMotorStart = 1.0;  // seconds for the motor to come up to speed
inline constexpr double kMaximumMotorStart = 60;
inline constexpr double kDefaultMotorIdle = 30;  // quiet seconds before the motor goes off
inline constexpr double kMinimumMotorIdle = 1;
inline constexpr double kMaximumMotorIdle = 3600;

struct Settings {
    std::string device;
    line::ApplyRequest line;  // rate, framing, DTR and RTS, as --apply would set them
    const CodeSet* codeSet = &kIta2;
    std::string link;
    int crFill = kDefaultCrFill;
    bool unshiftOnSpace = true;
    const TestPattern* pattern = nullptr;
    bool trace = false;
    int columns = kDefaultColumns;  // the carriage's width; 0: not followed
    Newline newline = Newline::CrLf;
    // Keyboard and printer in series on one loop: every code sent comes back from the line.
    bool halfDuplex = false;
    // The modem line (uart::kMcrDtr or uart::kMcrRts) that switches the machine's motor; 0: none.
    std::uint8_t motor = 0;
    double motorStart = kDefaultMotorStart;
    double motorIdle = kDefaultMotorIdle;
    // --print: the job's file, "-" for standard input; empty: the bridge runs instead.
    std::string print;
    bool wait = false;  // --print --wait: a hold or bridge of the line is waited for
    // --spool: the folder whose files the bridge prints, between typed lines; empty: none.
    std::string spool;
};

class Link;
class PseudoTerminal;

// The bridge's side for terminal programs: its pseudo-terminal and the --link to it, and the
// --spool folder that jobs are dropped into. Made before the port is touched, so that a link
// or a spool that cannot be had leaves the port as it was.
class TerminalSide {
  public:
    // Null with `error` set when either cannot be had.
    static std::unique_ptr<TerminalSide> Open(const Settings& settings, std::string& error);
    ~TerminalSide();
    TerminalSide(const TerminalSide&) = delete;
    TerminalSide& operator=(const TerminalSide&) = delete;

    const PseudoTerminal& Pty() const { return *pty_; }
    Spool* JobSpool() const { return spool_.get(); }  // none without --spool

  private:
    TerminalSide() = default;
    std::unique_ptr<PseudoTerminal> pty_;
    std::unique_ptr<Link> link_;
    std::unique_ptr<Spool> spool_;
};

// Sets the line and runs the bridge between the port and `terminal` until a signal or the port
// ends it. Returns the exit status: 0 after a signal, 1 when something failed or the port went
// away. Before it changes anything it takes the line's lock; a bridge that does not start, or
// ends with 1 on a port still there, puts the port's settings back as it found them. `port` is
// the port's driver, whose descriptor carries the data; `opened` is what opening the port came
// to, said with the line; `chip` is the port's USB adapter chip, where it is one.
int Run(const Settings& settings, std::unique_ptr<TerminalSide> terminal,
        std::unique_ptr<serial::SerialDriver> port, const uart::LineOutcome& opened, std::FILE* out,
        std::FILE* err, const std::optional<usb::Chip>& chip = std::nullopt);

// Reads --print's job whole: the file at `path`, or standard input for "-". False, with `error`
// for the user, where it cannot be read or is longer than kLargestJob.
bool ReadJob(const std::string& path, std::string& text, std::string& error);

// Sets the line as Run does and prints `job` through the same encoder, with no pseudo-terminal.
// Returns 0 once its last code has left the UART (the driver's queue is empty, and its
// transmitter where the driver tells, else a code's time later); 1 where a break from the line
// stopped it, the port went away, or the line could not be had or set; 128 and the signal's
// number after a stop signal (Ctrl+C throws away what the driver holds; SIGTERM and SIGHUP let
// it go out). With `settings.wait`, a hold or bridge of the line is waited for instead of
// refused.
int Print(const Settings& settings, const std::string& job,
          std::unique_ptr<serial::SerialDriver> port, const uart::LineOutcome& opened,
          std::FILE* out, std::FILE* err, const std::optional<usb::Chip>& chip = std::nullopt);

}  // namespace bridge
