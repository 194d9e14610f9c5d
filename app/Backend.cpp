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
        if (!backend->device_)
            return nullptr;
    }
    if (options.trace) {
        backend->trace_ = std::make_unique<uart::TracingPortIo>(*backend->device_, traceOut, base);
    }
    return backend;
}

}  // namespace app
