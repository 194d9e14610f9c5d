// SPDX-License-Identifier: GPL-3.0-or-later
#include "bridge/BridgeMode.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "bridge/Pump.h"
#include "uart/DriverPortIo.h"
#include "uart/PortSelection.h"
#include "uart/TracingPortIo.h"

namespace bridge {
namespace {

// The address the line's register writes name; the driver backend turns them into its calls.
constexpr auto kBase = static_cast<std::uint16_t>(uart::kDefaultPortBase);

bool ReadCrFill(const std::string& text, int& fill) {
    if (text.empty() || text.size() > std::to_string(kMaximumCrFill).size() ||
        text.find_first_not_of("0123456789") != text.npos)
        return false;
    fill = std::stoi(text);
    return fill <= kMaximumCrFill;
}

// "a or b": the names a table offers.
template <typename Table, typename Name>
std::string Choices(const Table& table, Name name) {
    std::string text;
    for (const auto& row : table)
        text += (text.empty() ? "" : " or ") + std::string(name(row));
    return text;
}

// A symbolic link to the pseudo-terminal, taken away at the end while it still points there.
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

    // A link left behind by an earlier run is replaced; anything else at `path` is kept.
    bool Make(const std::string& path, const std::string& target, std::string& error) {
        struct stat existing {};
        if (lstat(path.c_str(), &existing) == 0) {
            if (!S_ISLNK(existing.st_mode)) {
                error = path + " exists and is not a symbolic link: it is left as it is";
                return false;
            }
            unlink(path.c_str());
        }
        if (symlink(target.c_str(), path.c_str()) != 0) {
            error = "cannot make the link " + path + ": " + std::strerror(errno);
            return false;
        }
        path_ = path;
        target_ = target;
        return true;
    }

  private:
    std::string path_, target_;
};

}  // namespace

bool ReadSettings(const app::Options& options, Settings& settings, std::string& error) {
    if (options.simulate || options.apply) {
        error = "--bridge drives a real port: it excludes --simulate and --apply";
        return false;
    }
    if (!options.device) {
        error =
            "--bridge needs the teleprinter's serial port: --device PATH (/dev/ttyS0, "
            "/dev/ttyUSB0 ...)";
        return false;
    }
    settings.device = *options.device;
    const std::string line = options.bridge.value_or("");
    if (!app::ParseApply(line.empty() ? kDefaultLine : line, settings.line, error))
        return false;
    app::ApplyRequest defaults;
    app::ParseApply(kDefaultLine, defaults, error);
    error.clear();
    if (!settings.line.rate)
        settings.line.rate = defaults.rate;
    if (!settings.line.framing)
        settings.line.framing = defaults.framing;
    settings.line.dtr = options.dtr;
    settings.line.rts = options.rts;
    if (options.code && (settings.codeSet = FindCodeSet(*options.code)) == nullptr) {
        error = "--code takes " + Choices(kCodeSets, [](const CodeSet* set) { return set->name; }) +
                ", not " + *options.code;
        return false;
    }
    if (options.crFill && !ReadCrFill(*options.crFill, settings.crFill)) {
        error = "--cr-fill takes a count of fill characters from 0 to " +
                std::to_string(kMaximumCrFill) + ", not " + *options.crFill;
        return false;
    }
    if (options.test && (settings.pattern = FindTestPattern(*options.test)) == nullptr) {
        error = "--test takes " +
                Choices(kTestPatterns, [](const TestPattern& pattern) { return pattern.name; }) +
                ", not " + *options.test;
        return false;
    }
    if (options.link && options.link->empty()) {
        error = "--link needs a path";
        return false;
    }
    settings.link = options.link.value_or("");
    settings.unshiftOnSpace = !options.noUsos;
    settings.trace = options.trace;
    return true;
}

int Run(const Settings& settings, std::unique_ptr<uart::DeviceSerialDriver> port,
        const std::string& openNotice, std::FILE* out, std::FILE* err) {
    const char* device = settings.device.c_str();
    const int fd = port->Descriptor();
    uart::SerialDriver& driver = *port;  // the backend below owns it from here on
    termios2 termios{};
    int refused = driver.GetTermios(termios);
    if (refused == 0) {
        MakeRaw(termios);
        refused = driver.SetTermios(termios);
    }
    if (refused != 0) {
        std::fprintf(err, "quorlix: %s refused raw data (%s)\n", device, std::strerror(refused));
        return 1;
    }

    // Rate, framing and modem lines exactly as the scripted mode sets them.
    uart::DriverPortIo io(kBase, settings.device, std::move(port), openNotice);
    std::unique_ptr<uart::TracingPortIo> trace;
    if (settings.trace)
        trace = std::make_unique<uart::TracingPortIo>(io, err);
    uart::PortIo& used = trace ? static_cast<uart::PortIo&>(*trace) : io;
    const uart::ScopedPortIo installed(used);
    if (app::RunScripted(settings.line, used, kBase, out, err) != 0)
        return 1;

    std::string error;
    const auto pty = PseudoTerminal::Open(error);
    Link link;
    if (!pty || (!settings.link.empty() && !link.Make(settings.link, pty->Path(), error))) {
        std::fprintf(err, "quorlix: %s\n", error.c_str());
        return 1;
    }
    const StopSignals signals;
    if (signals.Fd() < 0) {
        std::fprintf(err, "quorlix: no pipe for the signals: %s\n", std::strerror(errno));
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
    std::fputs("; Ctrl+C ends it\n", out);
    std::fflush(out);

    PumpSetup setup;
    setup.port = fd;
    setup.terminal = pty->Fd();
    setup.stop = signals.Fd();
    setup.codeSet = settings.codeSet;
    setup.crFill = settings.crFill;
    setup.unshiftOnSpace = settings.unshiftOnSpace;
    if (settings.pattern != nullptr)
        setup.pattern = settings.pattern->line;
    Counts counts;
    const Ending ending = RunPump(setup, counts);
    if (ending == Ending::PortGone)
        std::fprintf(err, "quorlix: %s went away (unplugged?): the bridge ends\n", device);
    if (ending == Ending::TerminalGone)
        std::fprintf(err, "quorlix: the pseudo-terminal %s failed: the bridge ends\n",
                     pty->Path().c_str());
    std::fprintf(out,
                 "bridge: %zu characters sent, %zu received, %zu not printable, %zu thrown away\n",
                 counts.sent, counts.received, counts.unprintable, counts.thrownAway);
    return ending == Ending::PortGone || ending == Ending::TerminalGone ? 1 : 0;
}

}  // namespace bridge
