// SPDX-License-Identifier: GPL-3.0-or-later
#include "bridge/BridgeMode.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

#include "bridge/Pump.h"
#include "os/CLocale.h"
#include "os/ReadAll.h"
#include "os/StatusOutput.h"
#include "os/StopSignals.h"
#include "serial/DriverPortIo.h"
#include "uart/LineSettings.h"
#include "uart/PortSelection.h"
#include "uart/Registers.h"
#include "uart/TracingPortIo.h"

namespace bridge {
namespace {

// The address the line's register writes name; the driver backend turns them into its calls.
constexpr auto kBase = static_cast<std::uint16_t>(uart::kDefaultPortBase);

}  // namespace

// A symbolic link to the pseudo-terminal, taken away at the end while it still points there.
// Only a link to a pseudo-terminal (an earlier run's) or one whose target is gone may be
// replaced: anything else at the path is someone's and is left as it is.
class Link {
  public:
    Link() = default;
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;
    ~Link() {
        if (path_.empty())
            return;
        char target[PATH_MAX];
        const ssize_t size = readlink(path_.c_str(), target, sizeof target);
        if (size >= 0 && target_ == std::string(target, static_cast<std::size_t>(size)))
            unlink(path_.c_str());
    }

    // Whether the link may go at `path`. `existing`, if given, learns what is there now
    // (st_mode 0: nothing).
    static bool Check(const std::string& path, std::string& error,
                      struct stat* existing = nullptr) {
        struct stat found {};
        if (lstat(path.c_str(), &found) != 0)
            found = {};  // where nothing is, making the link says what is wrong with the path
        if (existing != nullptr)
            *existing = found;
        if (found.st_mode == 0)
            return true;
        const char* kind = S_ISDIR(found.st_mode)   ? "a directory"
                           : S_ISREG(found.st_mode) ? "a file"
                           : S_ISLNK(found.st_mode) ? nullptr
                                                    : "not a symbolic link";
        if (kind != nullptr) {
            error = path + " is " + kind + ", not a link to a pseudo-terminal: it is left as it is";
            return false;
        }
        char target[PATH_MAX];
        const ssize_t size = readlink(path.c_str(), target, sizeof target);
        const std::string pointed(target, size > 0 ? static_cast<std::size_t>(size) : 0);
        struct stat through {};
        if (IsPseudoTerminal(pointed) || (stat(path.c_str(), &through) != 0 && errno == ENOENT))
            return true;
        error =
            path + " is a link to " + pointed + ", not to a pseudo-terminal: it is left as it is";
        return false;
    }

    // Makes the link, replacing only what Check allows. A link that is replaced is replaced in
    // one step, by renaming a new one over it, and only while it is still the one checked.
    bool Make(const std::string& path, const std::string& target, std::string& error) {
        struct stat existing {};
        if (!Check(path, error, &existing))
            return false;
        const std::string made =
            existing.st_mode == 0 ? path : path + ".quorlix-" + std::to_string(getpid());
        if (symlink(target.c_str(), made.c_str()) != 0) {
            error = "cannot make the link " + path + ": " + std::strerror(errno);
            return false;
        }
        if (made != path) {
            struct stat now {};
            const bool same = lstat(path.c_str(), &now) == 0 && now.st_dev == existing.st_dev &&
                              now.st_ino == existing.st_ino;
            if (!same || rename(made.c_str(), path.c_str()) != 0) {
                error = "cannot make the link " + path + ": " +
                        (same ? std::strerror(errno) : "it changed while it was replaced");
                unlink(made.c_str());
                return false;
            }
        }
        path_ = path;
        target_ = target;
        return true;
    }

  private:
    // "/dev/pts/N", as ptsname gives it.
    static bool IsPseudoTerminal(std::string_view target) {
        constexpr std::string_view kFolder = "/dev/pts/";
        if (target.substr(0, kFolder.size()) != kFolder)
            return false;
        const std::string_view name = target.substr(kFolder.size());
        return !name.empty() && name != "." && name != ".." && name.find('/') == name.npos;
    }

    std::string path_, target_;
};

// The port's settings as the bridge found them. A bridge that does not run puts them back: the
// terminal program beside it lives on that port.
class FoundSettings {
  public:
    explicit FoundSettings(serial::SerialDriver& driver) : driver_(driver) {
        termiosRead_ = driver.GetTermios(termios_) == 0;
        serialRead_ = driver.GetSerial(serial_) == 0;
    }

    // Puts them back. What could not be, for the user; nothing when all went back.
    std::string PutBack() {
        int failure = 0;
        // The custom divisor first: the termios rate that follows takes it up again, or not.
        serial_struct now{};
        if (serialRead_ && driver_.GetSerial(now) == 0 &&
            (now.flags != serial_.flags || now.custom_divisor != serial_.custom_divisor))
            failure = driver_.SetSerial(serial_);
        if (termiosRead_) {
            if (const int error = driver_.SetTermios(termios_); error != 0)
                failure = error;
        }
        if (failure == 0)
            return {};
        return std::string("the settings it had could not be put back (") + std::strerror(failure) +
               ")";
    }

  private:
    serial::SerialDriver& driver_;
    termios2 termios_{};
    serial_struct serial_{};
    bool termiosRead_ = false, serialRead_ = false;
};

TerminalSide::~TerminalSide() = default;

std::unique_ptr<TerminalSide> TerminalSide::Open(const Settings& settings, std::string& error) {
    std::unique_ptr<TerminalSide> side(new TerminalSide());
    side->pty_ = PseudoTerminal::Open(error);
    if (!side->pty_)
        return nullptr;
    side->link_ = std::make_unique<Link>();
    if (!settings.link.empty() && !side->link_->Make(settings.link, side->pty_->Path(), error))
        return nullptr;
    if (!settings.spool.empty() && !(side->spool_ = Spool::Open(settings.spool, error)))
        return nullptr;
    return side;
}

namespace {

// The port as a run of the bridge or of a print job has it: its backend installed (traced where
// asked), its lock held, and its settings as found kept, to be put back by a run that does not
// start.
class TakenPort {
  public:
    TakenPort(const Settings& settings, std::unique_ptr<serial::SerialDriver> port, std::FILE* err,
              const std::optional<usb::Chip>& chip)
        : settings_(settings),
          err_(err),
          fd_(port->Descriptor()),
          driver_(*port),  // the backend below owns it from here on
          found_(driver_),
          io_(kBase, settings.device, std::move(port), chip) {
        if (settings.trace)
            trace_ = std::make_unique<uart::TracingPortIo>(io_, err, kBase);
        installed_.emplace(Used());
    }

    uart::PortIo& Used() { return trace_ ? static_cast<uart::PortIo&>(*trace_) : io_; }
    serial::SerialDriver& Driver() { return driver_; }
    int Fd() const { return fd_; }

    // Takes the line's lock: one bridge, hold or print job of a line at a time, as two would
    // set it against each other. With `wait`, a holder is waited for. False, said, where
    // another has it.
    bool Lock(const char* run, const line::LockWait* wait) {
        std::string refusal, notice;
        lock_ =
            line::HoldLock::Take(Used(), kBase, refusal, notice, settings_.line.lockFolder, wait);
        if (!lock_) {
            if (!refusal.empty())
                std::fprintf(err_, "quorlix: %s: %s does not start\n", refusal.c_str(), run);
            return false;
        }
        if (!notice.empty())
            std::fprintf(err_, "quorlix: note: %s\n", notice.c_str());
        return true;
    }

    // Raw data with breaks marked, then the rate, framing and modem lines exactly as the
    // scripted mode sets them. False, with the settings found put back, where either failed.
    bool Set(const uart::LineOutcome& opened, std::FILE* out) {
        termios2 termios{};
        int refused = driver_.GetTermios(termios);
        if (refused == 0) {
            MakeRaw(termios);
            termios.c_iflag |= PARMRK;  // a break from the line reads as \377 \0 \0, not as NUL
            refused = driver_.SetTermios(termios);
        }
        if (refused != 0) {
            std::fprintf(err_, "quorlix: %s refused raw data (%s)\n", settings_.device.c_str(),
                         std::strerror(refused));
            PutBack();
            return false;
        }
        if (line::RunScripted(settings_.line, Used(), kBase, out, err_, opened) != 0) {
            PutBack();
            return false;
        }
        return true;
    }

    // Puts the settings found back, saying what could not be.
    void PutBack() {
        if (const std::string failed = found_.PutBack(); !failed.empty())
            std::fprintf(err_, "quorlix: %s: %s\n", settings_.device.c_str(), failed.c_str());
    }
    std::string TryPutBack() { return found_.PutBack(); }

    // One code's time on the line, at the rate it really runs: start, data, parity, stop bits.
    double CodeTime() {
        const std::optional<uart::LineState> state = uart::LookAtLine(io_, kBase).state;
        const uart::Framing framing = settings_.line.framing.value_or(uart::Framing{});
        const double rate =
            state && state->rate ? *state->rate : uart::ReportRate(*settings_.line.rate).produced;
        if (rate <= 0)
            return PumpSetup{}.codeSeconds;
        return CodeSeconds(rate, framing.DataBits(),
                           (framing.parityBits & uart::kLcrParityEnable) != 0, framing.StopCount());
    }

    // The motor's line, switched once before the run says how the motor is run: up where text
    // goes out at once, else down, as the open raised it. A driver that cannot switch it runs
    // no motor (0), and `noMotor` says why.
    std::uint8_t Motor(bool up, std::string& noMotor) {
        if (settings_.motor == 0)
            return 0;
        const uart::LineOutcome outcome = uart::ApplyModemLine(settings_.motor, up);
        if (!outcome.failed)
            return settings_.motor;
        noMotor = outcome.notice;
        return 0;
    }

  private:
    const Settings& settings_;
    std::FILE* err_;
    const int fd_;
    serial::SerialDriver& driver_;
    FoundSettings found_;
    serial::DriverPortIo io_;
    std::unique_ptr<uart::TracingPortIo> trace_;
    std::optional<uart::ScopedPortIo> installed_;
    std::unique_ptr<line::HoldLock> lock_;
};

const char* MotorLineName(std::uint8_t motor) {
    return motor == uart::kMcrDtr ? "DTR" : "RTS";
}

// What the run's start line adds for the motor: "; the motor on RTS: ...".
std::string MotorText(std::uint8_t motor, const Settings& settings) {
    if (motor == 0)
        return {};
    return os::FormatC("; the motor on %s: %s s to start, off after %s s quiet",
                       MotorLineName(motor), os::FormatC("%g", settings.motorStart).c_str(),
                       os::FormatC("%g", settings.motorIdle).c_str());
}

// The notes after the start line: a motor line that may switch nothing or cannot be switched, a
// driver that reports no break.
void SayNotes(std::uint8_t motor, const std::string& noMotor, const Settings& settings,
              const std::optional<usb::Chip>& chip, const char* run, std::FILE* out) {
    if (const std::string pins = chip ? usb::ModemLinePins(*chip) : "";
        motor != 0 && !pins.empty()) {
        std::fprintf(out, "note: the motor's %s may switch nothing: %s\n", MotorLineName(motor),
                     pins.c_str());
    }
    if (chip && !chip->reportsBreak) {
        std::fprintf(out,
                     "note: the %s's driver reports no break from the line: the BREAK key will "
                     "not stop %s\n",
                     chip->name.c_str(), run);
    }
    if (!noMotor.empty()) {
        std::fprintf(out, "note: the motor's %s cannot be switched: %s; %s runs without it\n",
                     MotorLineName(settings.motor), noMotor.c_str(), run);
    }
}

// The loop's setup that a bridge and a print job share.
PumpSetup CommonSetup(const Settings& settings, TakenPort& port, int stop, std::uint8_t motor,
                      os::StatusOutput& notices, std::FILE* err) {
    PumpSetup setup;
    setup.port = port.Fd();
    setup.stop = stop;
    setup.codeSet = settings.codeSet;
    setup.crFill = settings.crFill;
    setup.unshiftOnSpace = settings.unshiftOnSpace;
    setup.notices = &notices;
    setup.columns = settings.columns;
    setup.newline = settings.newline;
    setup.halfDuplex = settings.halfDuplex;
    setup.motor = motor;
    setup.motorStart = settings.motorStart;
    setup.motorIdle = settings.motorIdle;
    setup.driver = &port.Driver();
    setup.breaksMarked = true;
    setup.progress = isatty(fileno(err)) != 0;
    setup.codeSeconds = port.CodeTime();
    return setup;
}

}  // namespace

int Run(const Settings& settings, std::unique_ptr<TerminalSide> terminal,
        std::unique_ptr<serial::SerialDriver> port, const uart::LineOutcome& opened, std::FILE* out,
        std::FILE* err, const std::optional<usb::Chip>& chip) {
    const char* device = settings.device.c_str();
    TakenPort taken(settings, std::move(port), err, chip);
    if (!taken.Lock("the bridge", nullptr))
        return 1;
    // From here the port is changed: a bridge that does not run leaves it as it was found.
    if (!taken.Set(opened, out))
        return 1;
    std::string noMotor;
    const std::uint8_t motor = taken.Motor(settings.pattern != nullptr, noMotor);

    const PseudoTerminal* pty = &terminal->Pty();
    const os::StopSignals signals;
    if (signals.Fd() < 0) {
        std::fprintf(err, "quorlix: no pipe for the signals: %s\n", std::strerror(errno));
        taken.PutBack();
        return 1;
    }
    std::fprintf(out, "bridge: %.*s on %s", static_cast<int>(settings.codeSet->title.size()),
                 settings.codeSet->title.data(), pty->Path().c_str());
    if (!settings.link.empty())
        std::fprintf(out, " (%s)", settings.link.c_str());
    if (settings.pattern != nullptr) {
        std::fprintf(out, ", sending the %.*s test",
                     static_cast<int>(settings.pattern->name.size()),
                     settings.pattern->name.data());
    }
    if (const Spool* spool = terminal->JobSpool())
        std::fprintf(out, ", printing the jobs dropped into %s", spool->Folder().c_str());
    std::fprintf(out, "%s; %s ends it\n", MotorText(motor, settings).c_str(),
                 signals.Names().c_str());
    SayNotes(motor, noMotor, settings, chip, "the bridge", out);
    std::fflush(out);

    // Notices and the time left never hold the loop up: a stopped terminal (Ctrl+S) would
    // stop the text both ways and the motor's timers with it.
    os::StatusOutput notices(err);
    PumpSetup setup = CommonSetup(settings, taken, signals.Fd(), motor, notices, err);
    setup.terminal = pty->Fd();
    setup.spool = terminal->JobSpool();
    if (settings.pattern != nullptr)
        setup.pattern = settings.pattern->line;
    Counts counts;
    const Ending ending = RunPump(setup, counts);
    std::vector<std::string> why;
    if (ending == Ending::PortGone)
        why.push_back(os::FormatC("quorlix: %s went away (unplugged?): the bridge ends", device));
    if (ending == Ending::TerminalGone)
        why.push_back(os::FormatC("quorlix: the pseudo-terminal %s failed: the bridge ends",
                                  pty->Path().c_str()));
    // A port that went away has nothing left to put back.
    if (const std::string failed = ending == Ending::TerminalGone ? taken.TryPutBack() : "";
        !failed.empty())
        why.push_back(os::FormatC("quorlix: %s: %s", device, failed.c_str()));
    notices.Finish(why, os::kEndWait);
    os::StatusOutput(out).Finish(
        {os::FormatC("bridge: %zu characters sent, %zu received, %zu not printable, %zu thrown "
                     "away, %zu control characters dropped",
                     counts.sent, counts.received, counts.unprintable, counts.thrownAway,
                     counts.dropped)},
        os::kEndWait);
    return ending == Ending::PortGone || ending == Ending::TerminalGone ? 1 : 0;
}

bool ReadJob(const std::string& path, std::string& text, std::string& error) {
    const bool standardInput = path == "-";
    const int fd = standardInput ? STDIN_FILENO : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    const std::string name = standardInput ? "standard input" : path;
    if (fd < 0) {
        error = "cannot read " + name + ": " + std::strerror(errno);
        return false;
    }
    text.clear();
    const int failure = os::ReadAll(fd, kLargestJob, text);
    if (!standardInput)
        ::close(fd);
    if (failure == EFBIG) {
        error = name + " is longer than a print job can be (" +
                std::to_string(kLargestJob / (1024 * 1024)) + " MiB)";
    } else if (failure != 0) {
        error = "cannot read " + name + ": " + std::strerror(failure);
    }
    return failure == 0;
}

int Print(const Settings& settings, const std::string& job,
          std::unique_ptr<serial::SerialDriver> port, const uart::LineOutcome& opened,
          std::FILE* out, std::FILE* err, const std::optional<usb::Chip>& chip) {
    const char* device = settings.device.c_str();
    const os::StopSignals signals;
    if (signals.Fd() < 0) {
        std::fprintf(err, "quorlix: no pipe for the signals: %s\n", std::strerror(errno));
        return 1;
    }
    TakenPort taken(settings, std::move(port), err, chip);
    line::LockWait wait{signals.Fd(), [&](const std::string& holder) {
                            std::fprintf(err, "quorlix: %s: waiting until it lets go\n",
                                         holder.c_str());
                            std::fflush(err);
                        }};
    if (!taken.Lock("the print job", settings.wait ? &wait : nullptr)) {
        unsigned char signal = 0;
        if (settings.wait && ::read(signals.Fd(), &signal, 1) == 1)
            return 128 + signal;
        return 1;
    }
    if (!taken.Set(opened, out))
        return 1;
    std::string noMotor;
    const std::uint8_t motor = taken.Motor(false, noMotor);  // started as the first code waits
    std::fprintf(out, "print: %.*s, %zu bytes%s; %s stops it\n",
                 static_cast<int>(settings.codeSet->title.size()), settings.codeSet->title.data(),
                 job.size(), MotorText(motor, settings).c_str(), signals.Names().c_str());
    SayNotes(motor, noMotor, settings, chip, "the print job", out);
    std::fflush(out);

    os::StatusOutput notices(err);
    PumpSetup setup = CommonSetup(settings, taken, signals.Fd(), motor, notices, err);
    setup.print = &job;
    Counts counts;
    const Ending ending = RunPump(setup, counts);
    std::vector<std::string> why;
    if (ending == Ending::PortGone)
        why.push_back(os::FormatC("quorlix: %s went away (unplugged?) after %zu of %zu characters",
                                  device, counts.sent, counts.job));
    if (ending == Ending::Broken)
        why.push_back(
            os::FormatC("quorlix: stopped by a BREAK at the machine after %zu of %zu "
                        "characters",
                        counts.sent, counts.job));
    notices.Finish(why, os::kEndWait);
    os::StatusOutput(out).Finish(
        {os::FormatC("print: %zu of %zu characters sent, %zu not printable, %zu thrown away, %zu "
                     "control characters dropped",
                     counts.sent, counts.job, counts.unprintable, counts.thrownAway,
                     counts.dropped)},
        os::kEndWait);
    switch (ending) {
        case Ending::Printed:
            return 0;
        case Ending::Interrupted:
        case Ending::Terminated:
            return 128 + (counts.signal != 0 ? counts.signal : SIGINT);
        default:
            return 1;
    }
}

}  // namespace bridge
