// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/Backend.h"

#include <unistd.h>

#include <cerrno>

#include "app/Privileges.h"
#include "serial/DriverPortIo.h"
#include "serial/SerialDriver.h"
#include "uart/SimulatedUart.h"
#include "uart/TracingPortIo.h"

namespace app {
namespace {

// What to do about a serial device that could not be opened with `error`.
const char* DeviceAdvice(int error) {
    switch (error) {
        case ENOENT:
            return "; ls /dev/ttyS* /dev/ttyUSB* lists them.";
        case EACCES:
        case EPERM:
            return " Join the group that owns it and log in again:\n"
                   "  sudo usermod -aG dialout $USER";
        case EBUSY:
            return " Close the exclusive lock in that program, or run quorlix through sudo.";
        default:
            return "";
    }
}

// What to do about I/O ports that were refused with `error`.
std::string PortAdvice(int error) {
    std::string text;
    if (error != ENOSYS) {
        text +=
            "\nTo reach the ports:\n"
            "  - give the program the capability once: sudo setcap cap_sys_rawio+ep "
            "$(command -v quorlix)\n"
            "  - or start it as root (sudo quorlix ...); it gives root back before the panel "
            "opens\n"
            "  - under kernel lockdown (Secure Boot) neither helps: boot a kernel without "
            "lockdown";
    }
    return text + "\nTo try the program without hardware: quorlix --simulate\n";
}

}  // namespace

std::string DeviceOpenFailure(const std::string& path, int error) {
    return serial::DeviceOpenMessage(path, error) + DeviceAdvice(error) + "\n";
}

std::unique_ptr<serial::DeviceSerialDriver> OpenSerialDevice(const std::string& path,
                                                             uart::LineOutcome& opened) {
    opened = {};
    const std::optional<InvokingUser> user = SudoUser();
    std::unique_ptr<serial::DeviceSerialDriver> driver;
    if (!user) {
        driver = serial::DeviceSerialDriver::Open(path, opened);
    } else if (const int checked = CheckInvokingUserMayOpen(path, *user, opened.notice);
               checked < 0) {
        opened.failed = true;
        opened.error = EACCES;
        return nullptr;
    } else {
        // The very file the check found, not whatever the path names by now.
        const std::string found = DescriptorPath(checked);
        driver = serial::DeviceSerialDriver::Open(path, opened, found.c_str());
        close(checked);
    }
    if (!driver)
        opened.notice += std::string(DeviceAdvice(opened.error)) + "\n";
    return driver;
}

Backend::~Backend() = default;

std::unique_ptr<Backend> Backend::Open(const Options& options, std::uint16_t base,
                                       uart::LineOutcome& opened, uart::IopermFunction ioperm,
                                       std::FILE* traceOut, const std::optional<usb::Chip>& chip) {
    std::unique_ptr<Backend> backend(new Backend());
    opened = {};
    if (options.simulate) {
        auto simulated = std::make_unique<uart::SimulatedUart>(base);
        backend->simulated_ = simulated.get();
        backend->device_ = std::move(simulated);
    } else if (options.device) {
        auto driver = OpenSerialDevice(*options.device, opened);
        if (!driver)
            return nullptr;
        backend->device_ =
            std::make_unique<serial::DriverPortIo>(base, *options.device, std::move(driver), chip);
    } else {
        backend->device_ = uart::DirectPortIo::Acquire(base, opened, ioperm);
        if (!backend->device_) {
            opened.notice += PortAdvice(opened.error);
            return nullptr;
        }
    }
    if (options.trace) {
        backend->trace_ = std::make_unique<uart::TracingPortIo>(*backend->device_, traceOut, base);
    }
    return backend;
}

}  // namespace app
