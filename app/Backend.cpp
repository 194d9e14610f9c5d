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
                                                             std::string& error,
                                                             std::string& notice, int* failure) {
    const std::optional<InvokingUser> user = SudoUser();
    if (!user)
        return serial::DeviceSerialDriver::Open(path, error, &notice, failure);
    const int checked = CheckInvokingUserMayOpen(path, *user, error);
    if (checked < 0) {
        if (failure != nullptr)
            *failure = EACCES;
        return nullptr;
    }
    // The very file the check found, not whatever the path names by now.
    const std::string found = DescriptorPath(checked);
    auto driver = serial::DeviceSerialDriver::Open(path, error, &notice, failure, found.c_str());
    close(checked);
    return driver;
}

Backend::~Backend() = default;

std::unique_ptr<Backend> Backend::Open(const Options& options, std::uint16_t base,
                                       std::string& error, uart::IopermFunction ioperm,
                                       std::FILE* traceOut, const std::optional<usb::Chip>& chip) {
    std::unique_ptr<Backend> backend(new Backend());
    if (options.simulate) {
        auto simulated = std::make_unique<uart::SimulatedUart>(base);
        backend->simulated_ = simulated.get();
        backend->device_ = std::move(simulated);
    } else if (options.device) {
        std::string notice;  // what opening did to the modem lines
        auto driver = OpenSerialDevice(*options.device, error, notice);
        if (!driver)
            return nullptr;
        backend->device_ = std::make_unique<serial::DriverPortIo>(base, *options.device,
                                                                  std::move(driver), notice, chip);
    } else {
        backend->device_ = uart::DirectPortIo::Acquire(base, error, ioperm);
        if (!backend->device_)
            return nullptr;
    }
    if (options.trace) {
        backend->trace_ = std::make_unique<uart::TracingPortIo>(*backend->device_, traceOut, base);
    }
    return backend;
}

}  // namespace app
