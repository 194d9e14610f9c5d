#include "app/PortSetApp.h"

#include <unistd.h>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <cstdlib>
#include <vector>

#include "app/Privileges.h"
#include "app/ScriptedMode.h"
#include "bridge/BridgeMode.h"
#include "panel/PortSetDlg.h"
#include "res/Strings.h"
#include "uart/DriverPortIo.h"
#include "uart/PortSelection.h"
#include "uart/SimulatedUart.h"
#include "uart/TracingPortIo.h"

namespace app {
namespace {

bool HasDisplay(const Options& options) {
    for (const std::string& option : options.toolkit) {
        if (option == "-platform" || option == "--platform" || option.starts_with("-platform=") ||
            option.starts_with("--platform="))
            return true;
    }
    for (const char* variable : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(variable);
        if (value != nullptr && *value != '\0')
            return true;
    }
    return false;
}

constexpr char kNoDisplayMessage[] =
    "quorlix: there is no display to show the panel on (DISPLAY and WAYLAND_DISPLAY are not "
    "set).\n"
    "Start it from a desktop session, or on a virtual X server: xvfb-run -a quorlix --simulate\n";

// The failure's message in a window of its own: no panel opens without the port.
void ShowFailure(char* program, const std::string& message) {
    int argc = 1;
    char* argv[] = {program, nullptr};
    QApplication application(argc, argv);
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Quorlix"),
                    QString::fromLocal8Bit(message.c_str()).trimmed(), QMessageBox::Ok);
    box.setObjectName(QStringLiteral("IDD_FAILURE"));
    box.exec();
}

// After a run on the simulated UART, what it ended up with.
void ReportSimulated(const Backend& backend, std::FILE* out) {
    if (const uart::SimulatedUart* simulated = backend.Simulated()) {
        std::fprintf(out, "simulated UART at 0x%03X: %s\n", simulated->Base(),
                     uart::Describe(simulated->View()).c_str());
    }
}

}  // namespace

bool CPortSetApp::InitInstance() {
    panel::CPortSetDlg dialog;
    if (!screenshotPath_.isEmpty()) {
        // Once the panel is up, keep a picture of it and close it.
        QTimer::singleShot(500, &dialog, [this, &dialog] {
            dialog.grab().save(screenshotPath_);
            dialog.accept();
        });
    }
    dialog.DoModal();  // OK or Cancel: either way the program ends
    return false;
}

Backend::~Backend() = default;

std::unique_ptr<Backend> Backend::Open(const Options& options, std::uint16_t base,
                                       std::string& error, uart::IopermFunction ioperm,
                                       std::FILE* traceOut) {
    std::unique_ptr<Backend> backend(new Backend());
    if (options.simulate) {
        auto simulated = std::make_unique<uart::SimulatedUart>(base);
        backend->simulated_ = simulated.get();
        backend->device_ = std::move(simulated);
    } else if (!options.device.empty()) {
        std::string notice;  // what opening did to the modem lines
        auto driver = uart::DeviceSerialDriver::Open(options.device, error, &notice);
        if (!driver)
            return nullptr;
        backend->device_ =
            std::make_unique<uart::DriverPortIo>(base, options.device, std::move(driver), notice);
    } else {
        backend->device_ = uart::DirectPortIo::Acquire(base, error, ioperm);
        if (!backend->device_)
            return nullptr;
    }
    if (options.trace) {
        backend->trace_ = std::make_unique<uart::TracingPortIo>(*backend->device_, traceOut);
    }
    return backend;
}

int Main(int argc, char** argv, const Environment& environment) {
    const std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
    const Options options = ParseOptions(arguments);
    std::string error;
    if (!options.error.empty()) {
        std::fprintf(environment.err, "quorlix: %s\nTry 'quorlix --help'.\n",
                     options.error.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(UsageText().c_str(), environment.out);
        return 0;
    }
    ApplyRequest request;
    if (options.apply && !ParseApply(*options.apply, request, error)) {
        std::fprintf(environment.err, "quorlix: %s\nTry 'quorlix --help'.\n", error.c_str());
        return 2;
    }
    request.dtr = options.dtr;
    request.rts = options.rts;
    if (options.version) {
        std::fprintf(environment.out, "quorlix %.*s\n",
                     static_cast<int>(res::kVersionDotted.size()), res::kVersionDotted.data());
        return 0;
    }
    if (options.bridge)
        return bridge::Main(options, environment.out, environment.err);

    // The port is known before any window opens, so that the permission for it is settled first.
    const std::string commandLine = FormCommandLine(options);
    uart::SetProcessCommandLine(commandLine);
    const auto base =
        static_cast<std::uint16_t>(uart::SelectPortFromCommandLine(commandLine.c_str()));
    std::unique_ptr<Backend> backend =
        Backend::Open(options, base, error, environment.ioperm, environment.err);
    if (!backend) {
        std::fputs(error.c_str(), environment.err);
        if (environment.showFailuresInWindow && !IsScripted(options) && HasDisplay(options) &&
            isatty(STDERR_FILENO) == 0) {
            ShowFailure(argv[0], error);
        }
        return 1;
    }
    if (const std::string dropped = GiveBackRoot(); !dropped.empty()) {
        std::fputs(dropped.c_str(), environment.err);
        return 1;
    }
    const uart::ScopedPortIo installed(backend->Io());
    if (IsScripted(options)) {
        const int status =
            RunScripted(request, backend->Io(), base, environment.out, environment.err);
        ReportSimulated(*backend, environment.out);
        return status;
    }
    if (!HasDisplay(options)) {
        std::fputs(kNoDisplayMessage, environment.err);
        return 1;
    }

    std::vector<std::string> toolkitArguments{argc > 0 ? argv[0] : "quorlix"};
    toolkitArguments.insert(toolkitArguments.end(), options.toolkit.begin(), options.toolkit.end());
    std::vector<char*> toolkitArgv;
    for (std::string& argument : toolkitArguments)
        toolkitArgv.push_back(argument.data());
    toolkitArgv.push_back(nullptr);
    int toolkitArgc = static_cast<int>(toolkitArguments.size());
    QApplication application(toolkitArgc, toolkitArgv.data());
    QApplication::setApplicationName(QStringLiteral("quorlix"));
    QApplication::setApplicationVersion(QString::fromLatin1(
        res::kVersionDotted.data(), static_cast<int>(res::kVersionDotted.size())));

    CPortSetApp app(QString::fromStdString(options.screenshot));
    app.InitInstance();
    ReportSimulated(*backend, environment.out);
    return 0;
}

}  // namespace app
