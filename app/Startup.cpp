// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/Startup.h"

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
#include "bridge/BridgeMode.h"
#include "line/LineRequest.h"
#include "res/Version.h"
#include "uart/ChipModel.h"
#include "uart/PortSelection.h"
#include "uart/SimulatedUart.h"

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

// After a run on the simulated UART, what it ended up with.
void ReportSimulated(const Backend& backend, std::FILE* out) {
    if (const uart::SimulatedUart* simulated = backend.Simulated()) {
        std::fprintf(out, "simulated UART at 0x%03X: %s\n", simulated->Base(),
                     uart::Describe(simulated->View()).c_str());
    }
}

std::string Joined(const std::vector<std::string>& words) {
    std::string text;
    for (const std::string& word : words)
        text += (text.empty() ? "" : ", ") + word;
    return text;
}

}  // namespace

int Main(int argc, char** argv, const Environment& environment) {
    std::FILE* const out = environment.out;
    std::FILE* const err = environment.err;
    const std::string program = argc > 0 ? argv[0] : "quorlix";
    // A reader that goes away (`quorlix --trace ... | head`) must not end the process between two
    // register writes: its stream just fails from then on.
    std::signal(SIGPIPE, SIG_IGN);

    // Whether the process holds more than its user's rights must be known before anything the
    // user controls is looked at: then nothing that could make Qt load code reaches it.
    const bool privileged = environment.startedPrivileged();
    Options options = ParseOptions({argv + (argc > 0 ? 1 : 0), argv + argc});
    std::vector<std::string> ignored;
    if (privileged) {
        ignored = RemoveCodeLoadingOptions(options);
        for (std::string& variable : RemoveCodeLoadingVariables())
            ignored.push_back(std::move(variable));
    }
    std::string usageError = options.error;
    line::ApplyRequest request;
    if (usageError.empty() && !options.help && options.apply)
        line::ParseApply(*options.apply, request, usageError);
    request.dtr = options.dtr;
    request.rts = options.rts;
    request.hold = options.hold;
    bridge::Settings bridgeSettings;
    if (usageError.empty() && !options.help && options.bridge)
        ReadBridgeSettings(options, bridgeSettings, usageError);

    // The port, and with it the one use of the privilege: the I/O permission for the UART's
    // eight addresses, or as root (under sudo, for the user) the open of a device. The
    // simulator, and a device opened by a user, need none: privilege goes before them. A
    // set-user-id root start opens a device as the user who ran it, like any user.
    const std::string commandLine = FormCommandLine(options);
    uart::SetProcessCommandLine(commandLine);
    const auto base =
        static_cast<std::uint16_t>(uart::SelectPortFromCommandLine(commandLine.c_str()));
    const bool runs = usageError.empty() && !options.help && !options.version;
    // A panel with no display to show it on is said before the port is opened for nothing.
    const bool panelWithoutDisplay =
        runs && !options.bridge && !IsScripted(options) && !HasPlatform(options.toolkit);
    // A USB adapter's chip is known from sysfs without opening the device, and opening it acts
    // on it (every open raises DTR and RTS): a line the chip cannot send is refused first,
    // wherever the command line alone decides it.
    const std::optional<std::string> device =
        options.bridge ? bridgeSettings.device : options.device;
    std::optional<uart::Chip> chip;
    std::string refusal;
    if (runs && !panelWithoutDisplay && device) {
        if (const std::optional<uart::Adapter> adapter =
                uart::IdentifyAdapter(*device, environment.sysfs))
            chip = uart::ChipOf(*adapter);
        const line::ApplyRequest& asked = options.bridge ? bridgeSettings.line : request;
        if (chip && (options.bridge || asked.program))
            refusal = uart::CannotSend(*chip, asked.rate, asked.framing);
    }
    const bool openPort = runs && !panelWithoutDisplay && refusal.empty();
    const bool portNeedsPrivilege =
        !options.simulate && (!options.device || (getuid() == 0 && geteuid() == 0));
    std::string leaveFailure;
    if (!openPort || !portNeedsPrivilege)
        leaveFailure = environment.leavePrivilege();
    std::unique_ptr<Backend> backend;
    std::unique_ptr<uart::DeviceSerialDriver> bridgePort;
    std::string portError, bridgeNotice;
    int bridgeFailure = 0;
    // The bridge's pseudo-terminal and link come before its port: one that cannot be made
    // leaves the port untouched. They are the user's: under sudo, whose open needs root, they
    // are made once root is given back, after the open and still before the line is set.
    std::unique_ptr<bridge::TerminalSide> terminalSide;
    std::string terminalError;
    if (openPort && options.bridge && leaveFailure.empty() && (!portNeedsPrivilege || !SudoUser()))
        terminalSide = bridge::TerminalSide::Open(bridgeSettings, terminalError);
    if (openPort && leaveFailure.empty() && terminalError.empty()) {
        if (options.bridge) {
            bridgePort =
                OpenSerialDevice(bridgeSettings.device, portError, bridgeNotice, &bridgeFailure);
        } else {
            backend = Backend::Open(options, base, portError, environment.ioperm, err, chip);
        }
    }
    if (openPort && portNeedsPrivilege)
        leaveFailure = environment.leavePrivilege();

    // From here on the process has no privilege at all, whatever happens next.
    if (!leaveFailure.empty()) {
        std::fputs(leaveFailure.c_str(), err);
        return 1;
    }
    if (!ignored.empty()) {
        std::fprintf(err, "quorlix: started with privilege, so these were ignored: %s\n",
                     Joined(ignored).c_str());
    }

    if (!usageError.empty()) {
        std::fprintf(err, "quorlix: %s\nTry 'quorlix --help'.\n", usageError.c_str());
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
    if (panelWithoutDisplay) {
        std::fputs(options.hold ? kHoldWithoutLineMessage : kNoDisplayMessage, err);
        return options.hold ? 2 : 1;
    }
    if (!refusal.empty()) {
        std::fprintf(err, "quorlix: %s\n", refusal.c_str());
        return 1;
    }
    if (options.bridge) {
        if (bridgePort && !terminalSide)
            terminalSide = bridge::TerminalSide::Open(bridgeSettings, terminalError);
        if (!terminalError.empty()) {
            std::fprintf(err, "quorlix: %s\n", terminalError.c_str());
            return 1;
        }
        if (!bridgePort) {
            std::fputs(portError.c_str(), err);
            return bridgeFailure == ENOTTY || bridgeFailure == EISDIR ? 2 : 1;
        }
        return bridge::Run(bridgeSettings, std::move(terminalSide), std::move(bridgePort),
                           bridgeNotice, out, err, chip);
    }
    if (!backend) {
        std::fputs(portError.c_str(), err);
        if (environment.showFailuresInWindow && !IsScripted(options) &&
            isatty(STDERR_FILENO) == 0 && HasVisiblePlatform(options.toolkit)) {
            std::fflush(err);
            ShowFailureWindow(program, options.toolkit, portError);
        }
        return 1;
    }

    const uart::ScopedPortIo installed(backend->Io());
    int status = 0;
    if (IsScripted(options)) {
        status = line::RunScripted(request, backend->Io(), base, out, err);
    } else {
        status = RunPanel(program, options.toolkit, options.screenshot, options.hold);
    }
    ReportSimulated(*backend, out);
    return status;
}

}  // namespace app
