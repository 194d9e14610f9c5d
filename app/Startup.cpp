// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/Startup.h"

#include <fcntl.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <memory>
#include <vector>

#include "app/Backend.h"
#include "app/BridgeOptions.h"
#include "app/Options.h"
#include "app/PortSetApp.h"
#include "app/Profile.h"
#include "bridge/BridgeMode.h"
#include "line/Advice.h"
#include "line/LineRequest.h"
#include "os/Listed.h"
#include "res/Version.h"
#include "uart/PortSelection.h"
#include "uart/SimulatedUart.h"
#include "usb/ChipModel.h"

namespace app {

namespace {

constexpr char kNoDisplayMessage[] =
    "quorlix: there is no display to show the panel on (DISPLAY and WAYLAND_DISPLAY are not "
    "set).\n"
    "Start it from a desktop session, or on a virtual X server: xvfb-run -a quorlix --simulate\n";

constexpr char kHoldWithoutLineMessage[] =
    "quorlix: --hold keeps what --apply, --dtr or --rts set, and none was given; without them it "
    "ticks the panel's Hold box, and there is no display to show the panel on.\n"
    "Try 'quorlix --help'.\n";

// A standard descriptor that the caller closed (`quorlix ... >&-`) would be the next open's: the
// port's or the pseudo-terminal's, and what is meant for the terminal would go out on the line.
// Each closed one is opened on /dev/null. False when that cannot be done.
bool FillClosedStandardDescriptors() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        // The lowest free descriptor, as those below it are open: this one.
        const int opened = open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        if (opened != fd) {
            if (opened >= 0)
                close(opened);
            return false;
        }
    }
    return true;
}

// After a run on the simulated UART, what it ended up with.
void ReportSimulated(const Backend& backend, std::FILE* out) {
    if (const uart::SimulatedUart* simulated = backend.Simulated()) {
        std::fprintf(out, "simulated UART at 0x%03X: %s\n", simulated->Base(),
                     uart::Describe(simulated->View()).c_str());
    }
}

// What the command line asks for, read without acting on anything: the options (less what a
// privileged start must not let Qt see), the line, the port, and what would refuse it.
struct Plan {
    Options options;
    std::vector<std::string> ignored;  // dropped because the start is privileged
    std::string usageError;
    line::ApplyRequest request;
    bridge::Settings bridge;
    std::uint16_t base = 0;
    bool panelWithoutDisplay = false;  // said before a port is opened for nothing
    bool openPort = false;
    bool portNeedsPrivilege = false;
};

// The values of the options, read as the run reads them. Returns the error, where one makes no
// sense.
std::string ReadValues(const Options& options, line::ApplyRequest& request,
                       bridge::Settings& bridge) {
    std::string error;
    if (options.apply)
        line::ParseApply(*options.apply, request, error);
    if (error.empty() && IsTeleprinterRun(options))
        ReadBridgeSettings(options, bridge, error);
    return error;
}

// The command line's options, with what it leaves out taken from the machine's profile.
Options ReadMachine(const std::vector<std::string>& words, const Options& given, bool privileged,
                    const Environment& environment) {
    Profile profile;
    std::string error;
    if (!ReadProfile(*given.machine, privileged, environment.systemProfiles, profile, error)) {
        Options failed = given;
        failed.error = error;
        return failed;
    }
    return WithProfile(words, profile, [](const Options& merged) {
        line::ApplyRequest request;
        bridge::Settings settings;
        return ReadValues(merged, request, settings);
    });
}

Plan ReadPlan(int argc, char** argv, const Environment& environment) {
    Plan plan;
    // Whether the process holds more than its user's rights must be known before anything the
    // user controls is looked at: then nothing that could make Qt load code reaches it.
    const bool privileged = environment.startedPrivileged();
    Options& options = plan.options;
    const std::vector<std::string> words(argv + (argc > 0 ? 1 : 0), argv + argc);
    options = ParseOptions(words);
    if (options.error.empty() && options.machine && !options.help && !options.version)
        options = ReadMachine(words, options, privileged, environment);
    if (privileged) {
        plan.ignored = RemoveCodeLoadingOptions(options);
        for (std::string& variable : RemoveCodeLoadingVariables())
            plan.ignored.push_back(std::move(variable));
    }
    plan.usageError = options.error;
    if (plan.usageError.empty() && !options.help)
        plan.usageError = ReadValues(options, plan.request, plan.bridge);
    plan.request.dtr = options.dtr;
    plan.request.rts = options.rts;
    plan.request.hold = options.hold;

    const std::string commandLine = FormCommandLine(options);
    uart::SetProcessCommandLine(commandLine);
    plan.base = static_cast<std::uint16_t>(uart::SelectPortFromCommandLine(commandLine.c_str()));
    const bool runs = plan.usageError.empty() && !options.help && !options.version;
    plan.panelWithoutDisplay =
        runs && !IsTeleprinterRun(options) && !IsScripted(options) && !HasPlatform(options.toolkit);
    plan.openPort = runs && !plan.panelWithoutDisplay;
    // The I/O permission for the UART's eight addresses, or as root (under sudo, for the user)
    // the open of a device. The simulator, and a device opened by a user, need none. A
    // set-user-id root start opens a device as the user who ran it, like any user.
    plan.portNeedsPrivilege =
        !options.simulate && (!options.device || (getuid() == 0 && geteuid() == 0));
    return plan;
}

// The port the plan asks for, and what opening it had to say.
struct Port {
    std::string leaveFailure;       // privilege could not be given up: nothing is to be done
    std::optional<usb::Chip> chip;  // the USB adapter's, where the device is one
    uart::LineOutcome refusal;      // a line the adapter's chip cannot send: not opened
    std::unique_ptr<Backend> backend;
    std::unique_ptr<serial::DeviceSerialDriver> bridgePort;
    std::unique_ptr<bridge::TerminalSide> terminal;
    uart::LineOutcome opened;  // what opening the port came to
    int status = 1;            // the exit status for an open that failed
    std::string terminalError;
    std::optional<std::string> job;  // --print's text, read as the user
    std::string jobError;
};

// Reads --print's job into `port`, as the user; where it cannot be read, `port.jobError` says
// why.
void ReadJob(const Plan& plan, Port& port) {
    if (std::string text; bridge::ReadJob(plan.bridge.print, text, port.jobError))
        port.job = std::move(text);
}

// The one step that runs with the privilege the process started with: it opens the port for the
// plan and gives the privilege up for good, before the open where the open needs none (and so
// before the device's adapter is looked up).
Port OpenPortForPlan(const Plan& plan, const Environment& environment, std::FILE* traceOut) {
    Port port;
    const bool openAsUser = !plan.openPort || !plan.portNeedsPrivilege;
    if (openAsUser)
        port.leaveFailure = environment.leavePrivilege();
    const Options& options = plan.options;
    const bool teleprinter = IsTeleprinterRun(options);
    const std::optional<std::string> path = teleprinter ? plan.bridge.device : options.device;
    std::optional<NamedDevice> device;
    if (plan.openPort && port.leaveFailure.empty() && path)
        device.emplace(*path);  // under sudo, as the user: refused before anything is looked at
    // A USB adapter's chip is known from sysfs without opening the device, and opening it acts
    // on it (every open raises DTR and RTS): a line the chip cannot send is refused first,
    // wherever the command line alone decides it.
    if (device) {
        port.chip = device->Chip(environment.sysfs);
        const line::ApplyRequest& asked = teleprinter ? plan.bridge.line : plan.request;
        if (port.chip && (teleprinter || asked.program))
            port.refusal = usb::CannotSend(*port.chip, asked.rate, asked.framing);
    }
    const bool open = plan.openPort && port.leaveFailure.empty() && !port.refusal.failed;
    // The bridge's pseudo-terminal and link come before its port: one that cannot be made
    // leaves the port untouched. They are the user's: under sudo, whose open needs root, they
    // are made once root is given back, after the open and still before the line is set.
    // So is the job that --print prints: one that cannot be read leaves the port untouched.
    const bool asUser = openAsUser || !SudoUser();
    if (open && options.bridge && asUser)
        port.terminal = bridge::TerminalSide::Open(plan.bridge, port.terminalError);
    if (open && options.print && asUser)
        ReadJob(plan, port);
    if (open && port.terminalError.empty() && port.jobError.empty()) {
        std::unique_ptr<serial::DeviceSerialDriver> driver;
        if (device)
            driver = device->Open(port.opened, port.status);
        if (teleprinter) {
            port.bridgePort = std::move(driver);
        } else if (!device || driver) {
            port.backend = Backend::Open(options, plan.base, port.opened, environment.ioperm,
                                         traceOut, std::move(driver), port.chip);
        }
    }
    if (!openAsUser)
        port.leaveFailure = environment.leavePrivilege();
    return port;
}

// Everything after the privilege is gone: the messages, then the bridge, the scripted mode or
// the panel.
int Run(const Plan& plan, Port port, const Environment& environment, const std::string& program) {
    std::FILE* const out = environment.out;
    std::FILE* const err = environment.err;
    const Options& options = plan.options;
    if (!port.leaveFailure.empty()) {
        std::fputs(port.leaveFailure.c_str(), err);
        return 1;
    }
    // The loader's variables had done their work before the program could remove them: they are
    // gone only for what is started later.
    std::vector<std::string> ignored, removed;
    for (const std::string& name : plan.ignored)
        (name.starts_with("LD_") ? removed : ignored).push_back(name);
    if (!ignored.empty()) {
        std::fprintf(err, "quorlix: started with privilege, so these were ignored: %s\n",
                     os::Listed(ignored).c_str());
    }
    if (!removed.empty()) {
        std::fprintf(err,
                     "quorlix: started with privilege, so these were removed for what it starts "
                     "later: %s; quorlix itself was loaded before it could remove them\n",
                     os::Listed(removed).c_str());
    }
    if (!plan.usageError.empty()) {
        std::fprintf(err, "quorlix: %s\nTry 'quorlix --help'.\n", plan.usageError.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(UsageText().c_str(), out);
        return 0;
    }
    if (options.version) {
        std::fprintf(out, "quorlix %.*s\n", static_cast<int>(res::kVersionDotted.size()),
                     res::kVersionDotted.data());
        return 0;
    }
    if (plan.panelWithoutDisplay) {
        std::fputs(options.hold ? kHoldWithoutLineMessage : kNoDisplayMessage, err);
        return options.hold ? 2 : 1;
    }
    if (port.refusal.failed) {
        std::fprintf(err, "quorlix: %s\n", line::AdvisedNotice(port.refusal).c_str());
        return 1;
    }
    if (options.bridge) {
        if (port.bridgePort && !port.terminal)
            port.terminal = bridge::TerminalSide::Open(plan.bridge, port.terminalError);
        if (!port.terminalError.empty()) {
            std::fprintf(err, "quorlix: %s\n", port.terminalError.c_str());
            return 1;
        }
        if (!port.bridgePort) {
            std::fputs(port.opened.notice.c_str(), err);
            return port.status;
        }
        return bridge::Run(plan.bridge, std::move(port.terminal), std::move(port.bridgePort),
                           port.opened, out, err, port.chip);
    }
    if (options.print) {
        if (port.bridgePort && !port.job)
            ReadJob(plan, port);
        if (!port.jobError.empty()) {
            std::fprintf(err, "quorlix: %s\n", port.jobError.c_str());
            return 1;
        }
        if (!port.bridgePort) {
            std::fputs(port.opened.notice.c_str(), err);
            return port.status;
        }
        return bridge::Print(plan.bridge, *port.job, std::move(port.bridgePort), port.opened, out,
                             err, port.chip);
    }
    if (!port.backend) {
        std::fputs(port.opened.notice.c_str(), err);
        if (environment.showFailuresInWindow && !IsScripted(options) &&
            isatty(STDERR_FILENO) == 0 && HasVisiblePlatform(options.toolkit)) {
            std::fflush(err);
            ShowFailureWindow(program, options.toolkit, port.opened.notice);
        }
        return port.status;
    }

    const uart::ScopedPortIo installed(port.backend->Io());
    int status = 0;
    if (IsScripted(options)) {
        status =
            line::RunScripted(plan.request, port.backend->Io(), plan.base, out, err, port.opened);
    } else {
        status =
            RunPanel(program, options.toolkit, options.screenshot, options.hold, port.opened, err);
    }
    ReportSimulated(*port.backend, out);
    return status;
}

}  // namespace

int Main(int argc, char** argv, const Environment& environment) {
    if (!FillClosedStandardDescriptors()) {
        std::fputs(
            "quorlix: a standard descriptor is closed and /dev/null cannot stand in for it\n",
            environment.err);
        return 1;
    }
    // A reader that goes away (`quorlix --trace ... | head`) must not end the process between two
    // register writes: its stream just fails from then on.
    std::signal(SIGPIPE, SIG_IGN);
    const Plan plan = ReadPlan(argc, argv, environment);
    Port port = OpenPortForPlan(plan, environment, environment.err);
    // From here on the process has no privilege at all, whatever happens next.
    return Run(plan, std::move(port), environment, argc > 0 ? argv[0] : "quorlix");
}

}  // namespace app
