// SPDX-License-Identifier: GPL-3.0-or-later
// The one backend through which every register access of a run goes, chosen from the options:
// the simulated UART, the serial driver, or the I/O ports themselves; wrapped for --trace.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "app/Options.h"
#include "uart/DirectPortIo.h"
#include "uart/PortIo.h"
#include "usb/ChipModel.h"

namespace uart {
class SimulatedUart;
}

namespace serial {
class DeviceSerialDriver;
}

namespace app {

// The serial device at `path`, and in `opened` what opening it did. Under sudo only a device
// that the invoking user may open by its own permissions is opened; root's part is then only to
// pass an exclusive lock (TIOCEXCL). Null when it cannot be had: `opened` then fails, with the
// whole message (what to do included) and the errno value behind it.
std::unique_ptr<serial::DeviceSerialDriver> OpenSerialDevice(const std::string& path,
                                                             uart::LineOutcome& opened);

// The message for a refused open of the serial device at `path` with `error`, with what to do.
std::string DeviceOpenFailure(const std::string& path, int error);

class Backend {
  public:
    // The backend the options ask for, at `base`, and in `opened` what opening it did. Null
    // when the port cannot be had: `opened` then fails, with the whole message (what to do
    // included); nothing has been accessed. This is the one step that may use the privilege the
    // process started with: the I/O port permission, or under sudo the device's open. `chip` is
    // the chip of the USB adapter that --device names, where it is one.
    static std::unique_ptr<Backend> Open(const Options& options, std::uint16_t base,
                                         uart::LineOutcome& opened,
                                         uart::IopermFunction ioperm = nullptr,
                                         std::FILE* traceOut = stderr,
                                         const std::optional<usb::Chip>& chip = std::nullopt);
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

}  // namespace app
