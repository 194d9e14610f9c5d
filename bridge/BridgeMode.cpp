// SPDX-License-Identifier: GPL-3.0-or-later
#include "bridge/BridgeMode.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "bridge/Pump.h"
#include "os/CLocale.h"
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
    return side;
}

int Run(const Settings& settings, std::unique_ptr<TerminalSide> terminal,
        std::unique_ptr<serial::SerialDriver> port, const uart::LineOutcome& opened, std::FILE* out,
        std::FILE* err, const std::optional<usb::Chip>& chip) {
    const char* device = settings.device.c_str();
    std::string error;
    const int fd = port->Descriptor();
    serial::SerialDriver& driver = *port;  // the backend below owns it from here on
    FoundSettings found(driver);
    serial::DriverPortIo io(kBase, settings.device, std::move(port), chip);
    std::unique_ptr<uart::TracingPortIo> trace;
    if (settings.trace)
        trace = std::make_unique<uart::TracingPortIo>(io, err, kBase);
    uart::PortIo& used = trace ? static_cast<uart::PortIo&>(*trace) : io;
    const uart::ScopedPortIo installed(used);
    // One bridge or hold of a line at a time: two would set it against each other.
    std::string refusal, notice;
    const std::unique_ptr<line::HoldLock> lock =
        line::HoldLock::Take(used, kBase, refusal, notice, settings.line.lockFolder);
    if (!lock) {
        std::fprintf(err, "quorlix: %s: the bridge does not start\n", refusal.c_str());
        return 1;
    }
    if (!notice.empty())
        std::fprintf(err, "quorlix: note: %s\n", notice.c_str());
    // From here the port is changed: a bridge that does not run leaves it as it was found.
    const auto notStarted = [&] {
        if (const std::string failed = found.PutBack(); !failed.empty())
            std::fprintf(err, "quorlix: %s: %s\n", device, failed.c_str());
        return 1;
    };
    termios2 termios{};
    int refused = driver.GetTermios(termios);
    if (refused == 0) {
        MakeRaw(termios);
        termios.c_iflag |= PARMRK;  // a break from the line reads as \377 \0 \0, not as NUL
        refused = driver.SetTermios(termios);
    }
    if (refused != 0) {
        std::fprintf(err, "quorlix: %s refused raw data (%s)\n", device, std::strerror(refused));
        return notStarted();
    }
    // Rate, framing and modem lines exactly as the scripted mode sets them.
    if (line::RunScripted(settings.line, used, kBase, out, err, opened) != 0)
        return notStarted();

    // One code's time on the line, at the rate it really runs: start, data, parity, stop bits.
    const std::optional<uart::LineState> state = uart::LookAtLine(io, kBase).state;
    const uart::Framing framing = settings.line.framing.value_or(uart::Framing{});
    const double rate =
        state && state->rate ? *state->rate : uart::ReportRate(*settings.line.rate).produced;

    // The motor's line is switched once before the start says how the motor is run: down, as
    // the open raised it, unless a test pattern goes out at once. A driver that cannot switch
    // it runs no motor, and says so instead.
    std::uint8_t motor = settings.motor;
    std::string noMotor;
    if (motor != 0) {
        if (const uart::LineOutcome outcome =
                uart::ApplyModemLine(motor, settings.pattern != nullptr);
            outcome.failed) {
            noMotor = outcome.notice;
            motor = 0;
        }
    }

    const PseudoTerminal* pty = &terminal->Pty();
    const os::StopSignals signals;
    if (signals.Fd() < 0) {
        std::fprintf(err, "quorlix: no pipe for the signals: %s\n", std::strerror(errno));
        return notStarted();
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
    if (motor != 0) {
        std::fprintf(out, "; the motor on %s: %s s to start, off after %s s quiet",
                     motor == uart::kMcrDtr ? "DTR" : "RTS",
                     os::FormatC("%g", settings.motorStart).c_str(),
                     os::FormatC("%g", settings.motorIdle).c_str());
    }
    std::fprintf(out, "; %s ends it\n", signals.Names().c_str());
    if (const std::string pins = chip ? usb::ModemLinePins(*chip) : "";
        motor != 0 && !pins.empty()) {
        std::fprintf(out, "note: the motor's %s may switch nothing: %s\n",
                     motor == uart::kMcrDtr ? "DTR" : "RTS", pins.c_str());
    }
    if (chip && !chip->reportsBreak) {
        std::fprintf(out,
                     "note: the %s's driver reports no break from the line: the BREAK key will "
                     "not stop the bridge\n",
                     chip->name.c_str());
    }
    if (!noMotor.empty()) {
        std::fprintf(out,
                     "note: the motor's %s cannot be switched: %s; the bridge runs without it\n",
                     settings.motor == uart::kMcrDtr ? "DTR" : "RTS", noMotor.c_str());
    }
    std::fflush(out);

    // Notices and the time left never hold the loop up: a stopped terminal (Ctrl+S) would
    // stop the text both ways and the motor's timers with it.
    os::StatusOutput notices(err);
    PumpSetup setup;
    setup.port = fd;
    setup.terminal = pty->Fd();
    setup.stop = signals.Fd();
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
    setup.driver = &driver;
    setup.breaksMarked = true;
    setup.progress = isatty(fileno(err)) != 0;
    if (rate > 0) {
        setup.codeSeconds =
            CodeSeconds(rate, framing.DataBits(),
                        (framing.parityBits & uart::kLcrParityEnable) != 0, framing.StopCount());
    }
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
    if (const std::string failed = ending == Ending::TerminalGone ? found.PutBack() : "";
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

}  // namespace bridge
