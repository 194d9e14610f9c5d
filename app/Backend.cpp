// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/Backend.h"

#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>

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
            return "; ls /dev/ttyS* /dev/ttyUSB* /dev/ttyAMA* /dev/serial* lists them.";
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
    if (error == ENOSYS) {
        // No I/O ports at all (an ARM machine such as a Raspberry Pi, or a virtual machine
        // that withholds them): the serial driver still reaches the UART.
        text +=
            "\nReach the UART through its serial driver instead:\n"
            "  quorlix --device /dev/serial0   (a Raspberry Pi's header UART)\n"
            "  quorlix --device /dev/ttyS0     (or /dev/ttyAMA0, /dev/ttyUSB0 ...)";
    } else {
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

// The controlling terminal's device number, from /proc/self/stat (its seventh field, in the
// kernel's encoding); 0 for a process without one.
dev_t ControllingTerminal() {
    std::ifstream in("/proc/self/stat");
    std::string stat;
    std::getline(in, stat);
    const auto name = stat.rfind(')');  // the program's name may hold blanks and parentheses
    if (name == std::string::npos)
        return 0;
    std::istringstream fields(stat.substr(name + 1));
    std::string state;
    long parent = 0, group = 0, session = 0;
    unsigned long tty = 0;
    fields >> state >> parent >> group >> session >> tty;
    return makedev((tty >> 8) & 0xFFF, (tty & 0xFF) | ((tty >> 12) & 0xFFF00));
}

// What the character device `device` is to this program where it is its own terminal: the
// controlling terminal (which /dev/tty names too), or a terminal it has as a standard
// descriptor. Null for any other device.
const char* OwnTerminal(dev_t device) {
    const dev_t controlling = ControllingTerminal();
    if (controlling != 0 && (device == controlling || device == makedev(5, 0)))
        return "the controlling terminal of this program";
    constexpr const char* kNames[] = {"standard input", "standard output", "standard error"};
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        struct stat standard {};
        if (fstat(fd, &standard) == 0 && S_ISCHR(standard.st_mode) && standard.st_rdev == device &&
            isatty(fd) != 0)
            return kNames[fd];
    }
    return nullptr;
}

}  // namespace

std::string DeviceOpenFailure(const std::string& path, int error) {
    return serial::DeviceOpenMessage(path, error) + DeviceAdvice(error) + "\n";
}

NamedDevice::NamedDevice(std::string path) : path_(std::move(path)) {
    if (const std::optional<InvokingUser> user = SudoUser())
        found_ = CheckInvokingUserMayOpen(path_, *user, refusal_);
}

NamedDevice::~NamedDevice() {
    if (found_ >= 0)
        close(found_);
}

bool NamedDevice::Stat(struct stat& file) const {
    return (found_ >= 0 ? fstat(found_, &file) : stat(path_.c_str(), &file)) == 0;
}

std::optional<usb::Chip> NamedDevice::Chip(const std::string& sysfs) const {
    struct stat file {};
    if (!refusal_.empty() || !Stat(file) || !S_ISCHR(file.st_mode))
        return std::nullopt;
    const std::optional<usb::Adapter> adapter = usb::IdentifyAdapter(file.st_rdev, sysfs);
    return adapter ? usb::ChipOf(*adapter) : std::nullopt;
}

std::unique_ptr<serial::DeviceSerialDriver> NamedDevice::Open(uart::LineOutcome& opened,
                                                              int& status) const {
    opened = {};
    status = 1;
    if (!refusal_.empty()) {
        opened.notice = refusal_;
        opened.failed = true;
        opened.error = EACCES;
        return nullptr;
    }
    // Refused before the open, which would act on it: the user's own terminal left raw.
    struct stat file {};
    if (const char* own =
            Stat(file) && S_ISCHR(file.st_mode) ? OwnTerminal(file.st_rdev) : nullptr) {
        opened.notice = "quorlix: cannot use " + path_ + ": it is " + own +
                        ", not the teleprinter's port.\nName the serial device itself: --device "
                        "/dev/ttyS0, /dev/ttyUSB0 ...\n";
        opened.failed = true;
        status = 2;
        return nullptr;
    }
    // The very file the look found, not whatever the path names by now.
    const std::string found = found_ >= 0 ? DescriptorPath(found_) : path_;
    auto driver = serial::DeviceSerialDriver::Open(path_, opened, found.c_str());
    if (!driver)
        opened.notice += std::string(DeviceAdvice(opened.error)) + "\n";
    return driver;
}

Backend::~Backend() = default;

std::unique_ptr<Backend> Backend::Open(const Options& options, std::uint16_t base,
                                       uart::LineOutcome& opened, uart::IopermFunction ioperm,
                                       std::FILE* traceOut,
                                       std::unique_ptr<serial::DeviceSerialDriver> device,
                                       const std::optional<usb::Chip>& chip) {
    std::unique_ptr<Backend> backend(new Backend());
    if (!options.device)
        opened = {};
    if (options.simulate) {
        auto simulated = std::make_unique<uart::SimulatedUart>(base);
        backend->simulated_ = simulated.get();
        backend->device_ = std::move(simulated);
    } else if (options.device) {
        if (!device)
            return nullptr;  // `opened` says why
        backend->device_ =
            std::make_unique<serial::DriverPortIo>(base, *options.device, std::move(device), chip);
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
