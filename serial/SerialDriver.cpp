// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/SerialDriver.h"

#include <asm/ioctls.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

namespace serial {
namespace {

int Call(int fd, unsigned long request, void* argument) {
    return ioctl(fd, request, argument) == 0 ? 0 : errno;
}

}  // namespace

std::string DeviceOpenMessage(const std::string& path, int error) {
    std::string text = "quorlix: cannot use " + path + ": " + std::strerror(error) + ".";
    switch (error) {
        case ENOENT:
            text +=
                "\nThere is no such device. Serial ports are /dev/ttyS0, /dev/ttyS1 ..., on a "
                "Raspberry Pi /dev/serial0 (/dev/ttyAMA0 or /dev/ttyS0), USB adapters "
                "/dev/ttyUSB0 or /dev/ttyACM0";
            break;
        case EACCES:
        case EPERM:
            text += "\nYou may not open it.";
            break;
        case EBUSY:
            text +=
                "\nAnother program holds it exclusively (TIOCEXCL); only root may open it "
                "beside that program.";
            break;
        case ENOTTY:
        case EINVAL:
            text += "\nIt is not a serial port.";
            break;
        case ENXIO:
        case ENODEV:
        case EIO:
            if (error == ENXIO && path == "/dev/tty") {
                text +=
                    "\n/dev/tty is the controlling terminal, and this process has none (started "
                    "by setsid, cron or a service). Name the serial device itself, e.g. "
                    "/dev/ttyS0, /dev/serial0 or /dev/ttyUSB0.";
                break;
            }
            text += "\nNothing answers there: the adapter is unplugged or the port has no UART.";
            break;
        default:
            break;
    }
    return text;
}

std::unique_ptr<DeviceSerialDriver> DeviceSerialDriver::Open(const std::string& path,
                                                             uart::LineOutcome& opened,
                                                             const char* openPath) {
    opened = {};
    const auto refused = [&](int error) {
        opened.notice = DeviceOpenMessage(path, error);
        opened.failed = true;
        opened.error = error;
        return nullptr;
    };
    if (openPath == nullptr)
        openPath = path.c_str();
    // Every serial port is a character device. A file, a FIFO or a socket is refused as such
    // before the open, whose errors would say less (a socket's reads as an unplugged device's).
    if (struct stat file{};
        stat(openPath, &file) == 0 && !S_ISCHR(file.st_mode) && !S_ISDIR(file.st_mode)) {
        refused(ENOTTY);
        opened.notice = "quorlix: cannot use " + path +
                        ": it is not a character device, as every serial port is (/dev/ttyS0, "
                        "/dev/ttyUSB0 ...).";
        return nullptr;
    }
    const int fd = ::open(openPath, O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return refused(errno);
    std::unique_ptr<DeviceSerialDriver> driver(new DeviceSerialDriver(fd));
    termios2 termios{};
    if (const int error = driver->GetTermios(termios); error != 0)
        return refused(error == EINVAL ? ENOTTY : error);
    int now = 0;
    if (driver->GetModemLines(now) == 0 && (now & (TIOCM_DTR | TIOCM_RTS)) != 0)
        opened.notice =
            "opening " + path + " may have raised DTR and RTS (the kernel does so on every open)";
    return driver;
}

namespace {

struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};
using Dir = std::unique_ptr<DIR, DirCloser>;

// Whether one of the descriptors in `folder` (a /proc/PID/fd) is the character device `device`.
// Only a device node can be the port, and only a device node is stat()ed: a file on a hung
// network or FUSE mount would block the stat, while readlink only names the target. A holder in
// a chroot or a container with a /dev of its own names the device by another path and is not
// counted: the note then errs on the side of warning.
bool HoldsDevice(const std::string& folder, dev_t device) {
    const Dir descriptors(opendir(folder.c_str()));
    if (!descriptors)
        return false;  // gone by now, or another user's: not seen
    while (const dirent* descriptor = readdir(descriptors.get())) {
        const std::string link = folder + "/" + descriptor->d_name;
        char target[PATH_MAX];
        const ssize_t length = readlink(link.c_str(), target, sizeof target);
        if (length <= 0 ||
            !std::string_view(target, static_cast<std::size_t>(length)).starts_with("/dev/"))
            continue;  // ".", "..", a pipe, a socket, a file
        struct stat file {};
        if (stat(link.c_str(), &file) == 0 && S_ISCHR(file.st_mode) && file.st_rdev == device)
            return true;
    }
    return false;
}

}  // namespace

bool DeviceSerialDriver::HeldOpenElsewhere() {
    struct stat own {};
    if (fstat(fd_, &own) != 0 || !S_ISCHR(own.st_mode))
        return false;
    const Dir processes(opendir("/proc"));
    if (!processes)
        return false;
    const std::string self = std::to_string(getpid());
    while (const dirent* process = readdir(processes.get())) {
        const std::string_view pid = process->d_name;
        if (pid.find_first_not_of("0123456789") == pid.npos && pid != self &&
            HoldsDevice("/proc/" + std::string(pid) + "/fd", own.st_rdev))
            return true;
    }
    return false;
}

dev_t DeviceSerialDriver::Device() {
    struct stat own {};
    return fstat(fd_, &own) == 0 && S_ISCHR(own.st_mode) ? own.st_rdev : 0;
}

DeviceSerialDriver::~DeviceSerialDriver() {
    ::close(fd_);
}

int DeviceSerialDriver::GetTermios(termios2& termios) {
    return Call(fd_, TCGETS2, &termios);
}
int DeviceSerialDriver::SetTermios(const termios2& termios) {
    return Call(fd_, TCSETS2, const_cast<termios2*>(&termios));
}
int DeviceSerialDriver::GetSerial(serial_struct& serial) {
    return Call(fd_, TIOCGSERIAL, &serial);
}
int DeviceSerialDriver::SetSerial(const serial_struct& serial) {
    return Call(fd_, TIOCSSERIAL, const_cast<serial_struct*>(&serial));
}
int DeviceSerialDriver::GetModemLines(int& lines) {
    return Call(fd_, TIOCMGET, &lines);
}
int DeviceSerialDriver::RaiseModemLines(int lines) {
    return Call(fd_, TIOCMBIS, &lines);
}
int DeviceSerialDriver::DropModemLines(int lines) {
    return Call(fd_, TIOCMBIC, &lines);
}
int DeviceSerialDriver::GetOutputQueue(int& bytes) {
    return Call(fd_, TIOCOUTQ, &bytes);
}
int DeviceSerialDriver::GetTransmitterEmpty(bool& empty) {
    unsigned int status = 0;
    const int error = Call(fd_, TIOCSERGETLSR, &status);
    empty = error == 0 && (status & TIOCSER_TEMT) != 0;
    return error;
}

}  // namespace serial
