// The application: start-up, the panel's modal run, and exit.
#pragma once

#include <QString>
#include <cstdio>
#include <memory>
#include <string>

#include "app/Options.h"
#include "uart/DirectPortIo.h"
#include "uart/PortIo.h"

namespace uart {
class SimulatedUart;
}

namespace app {

// Runs the panel modally as the program's only window.
class CPortSetApp {
  public:
    explicit CPortSetApp(QString screenshotPath = {})
        : screenshotPath_(std::move(screenshotPath)) {}

    // Builds the panel, runs it until it closes, and returns false: the program then ends.
    bool InitInstance();

  private:
    QString screenshotPath_;
};

// The backend the options ask for, at `base`, wrapped for --trace. Null with `error` set when the
// ports cannot be had; nothing has been accessed then.
class Backend {
  public:
    static std::unique_ptr<Backend> Open(const Options& options, std::uint16_t base,
                                         std::string& error, uart::IopermFunction ioperm = nullptr,
                                         std::FILE* traceOut = stderr);
    ~Backend();

    uart::PortIo& Io() { return trace_ ? *trace_ : *device_; }
    // The simulated UART, when that is the backend.
    uart::SimulatedUart* Simulated() const { return simulated_; }

  private:
    Backend() = default;

    std::unique_ptr<uart::PortIo> device_;
    std::unique_ptr<uart::PortIo> trace_;
    uart::SimulatedUart* simulated_ = nullptr;
};

// What the process can be given from outside, so that tests can stand in for it.
struct Environment {
    uart::IopermFunction ioperm = nullptr;
    std::FILE* out = stdout;
    std::FILE* err = stderr;
    // Started from a desktop menu, nobody reads standard error: say why in a window too.
    bool showFailuresInWindow = false;
};

// The whole program: options, port, permission, the panel. Returns the exit status.
int Main(int argc, char** argv, const Environment& environment = {});

}  // namespace app
