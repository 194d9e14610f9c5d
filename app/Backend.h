// SPDX-License-Identifier: GPL-3.0-or-later
// The one backend through which every register access of a run goes, chosen from the options:
// the simulated UART, the serial driver, or the I/O ports themselves; wrapped for --trace.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "app/Options.h"
#include "serial/SerialDriver.h"
#include "uart/DirectPortIo.h"
#include "uart/PortIo.h"
#include "usb/ChipModel.h"

namespace uart {
class SimulatedUart;
}

namespace app {

// A serial device the command line names, found before it is opened. Under sudo it is found with
// the invoking user's eyes: a device that user may not open by its own permissions is refused
// before anything about it is looked at (not even its adapter), and the open takes the very file
// the look found; root's part is then only to pass an exclusive lock (TIOCEXCL).
class NamedDevice {
  public:
    explicit NamedDevice(std::string path);
    ~NamedDevice();
    NamedDevice(const NamedDevice&) = delete;
    NamedDevice& operator=(const NamedDevice&) = delete;

    // The chip of the USB adapter behind it, from the sysfs tree at `sysfs`, where it is one
    // and may be looked at.
    std::optional<usb::Chip> Chip(const std::string& sysfs) const;
    // Opens it beside the terminal program, and says in `opened` what opening it did. Null when
    // it cannot be had: `opened` then fails, with the whole message (what to do included), and
    // `status` is the exit status that stands for: 2 for this program's own terminal, which the
    // command line must not name as the port; else 1.
    std::unique_ptr<serial::DeviceSerialDriver> Open(uart::LineOutcome& opened, int& status) const;

  private:
    // The file's status: the one the look found, or what the path names.
    bool Stat(struct stat& file) const;

    std::string path_;
    int found_ = -1;  // under sudo, the file the look found (O_PATH)
    std::string refusal_;
};

// The message for a refused open of the serial device at `path` with `error`, with what to do.
std::string DeviceOpenFailure(const std::string& path, int error);

class Backend {
  public:
    // The backend the options ask for, at `base`: for --device, over `device` (a NamedDevice's
    // open, whose `opened` is kept), else in `opened` what opening it did. Null when the port
    // cannot be had: `opened` then fails, with the whole message (what to do included); nothing
    // has been accessed. This is the one step that may use the privilege the process started
    // with: the I/O port permission. `chip` is the chip of the USB adapter that --device names,
    // where it is one.
    static std::unique_ptr<Backend> Open(
        const Options& options, std::uint16_t base, uart::LineOutcome& opened,
        uart::IopermFunction ioperm = nullptr, std::FILE* traceOut = stderr,
        std::unique_ptr<serial::DeviceSerialDriver> device = nullptr,
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
