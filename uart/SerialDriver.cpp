// SPDX-License-Identifier: GPL-3.0-or-later
#include "uart/SerialDriver.h"

#include <asm/ioctls.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string_view>

namespace uart {
namespace {

int Call(int fd, unsigned long request, void* argument) {
    return ioctl(fd, request, argument) == 0 ? 0 : errno;
}

}  // namespace

std::string DeviceOpenMessage(const std::string& path, int error) {
    std::string text = "quorlix: cannot use " + path + ": " + std::strerror(error) + ".\n";
    switch (error) {
        case ENOENT:
            text +=
                "There is no such device. Serial ports are /dev/ttyS0, /dev/ttyS1 ..., USB "
                "adapters /dev/ttyUSB0 or /dev/ttyACM0; ls /dev/ttyS* /dev/ttyUSB* lists them.\n";
            break;
        case EACCES:
        case EPERM:
            text +=
                "You may not open it. Join the group that owns it and log in again:\n"
                "  sudo usermod -aG dialout $USER\n";
            break;
        case EBUSY:
            text +=
                "Another program holds it exclusively (TIOCEXCL); only root may open it "
                "beside that program. Close the exclusive lock in that program, or run "
                "quorlix through sudo.\n";
            break;
        case ENOTTY:
        case EINVAL:
            text += "It is not a serial port.\n";
            break;
        case ENXIO:
        case ENODEV:
        case EIO:
            if (error == ENXIO && path == "/dev/tty") {
                text +=
                    "/dev/tty is the controlling terminal, and this process has none (started by "
                    "setsid, cron or a service). Name the serial device itself, e.g. /dev/ttyS0 "
                    "or /dev/ttyUSB0.\n";
                break;
            }
            text += "Nothing answers there: the adapter is unplugged or the port has no UART.\n";
            break;
        default:
            break;
    }
    return text;
}

int ModemLinesFromStatus(const std::string& statusText, int line) {
    std::istringstream lines(statusText);
    const std::string prefix = std::to_string(line) + ":";
    for (std::string entry; std::getline(lines, entry);) {
        if (entry.rfind(prefix, 0) != 0)
            continue;
        if (entry.find("uart:unknown") != std::string::npos)
            return -1;
        const auto flags = entry.substr(entry.rfind(' ') + 1);
        int bits = 0;
        std::istringstream names(flags);
        for (std::string name; std::getline(names, name, '|');) {
            if (name == "DTR")
                bits |= TIOCM_DTR;
            if (name == "RTS")
                bits |= TIOCM_RTS;
        }
        return bits;
    }
    return -1;
}

int SerialLineOf(const std::string& device) {
    const std::string_view stem = "/dev/ttyS";
    if (device.rfind(stem, 0) != 0)
        return -1;
    const char* first = device.data() + stem.size();
    const char* last = device.data() + device.size();
    int line = -1;
    const auto [end, error] = std::from_chars(first, last, line);
    if (first == last || error != std::errc() || end != last || *first == '-')
        return -1;
    return line;
}

namespace {

// How DTR and RTS stand on `path` without opening it: only the 8250 driver's status says so,
// and only to root.
int ModemLinesBeforeOpen(const std::string& path) {
    char resolved[PATH_MAX];
    if (realpath(path.c_str(), resolved) == nullptr)
        return -1;
    const int line = SerialLineOf(resolved);
    if (line < 0)
        return -1;
    std::ifstream status("/proc/tty/driver/serial");
    if (!status)
        return -1;
    const std::string text((std::istreambuf_iterator<char>(status)),
                           std::istreambuf_iterator<char>());
    return ModemLinesFromStatus(text, line);
}

}  // namespace

std::unique_ptr<DeviceSerialDriver> DeviceSerialDriver::Open(const std::string& path,
                                                             std::string& error,
                                                             std::string* notice, int* failure,
                                                             const char* openPath) {
    int ignored = 0;
    int& reason = failure != nullptr ? *failure : ignored;
    if (openPath == nullptr)
        openPath = path.c_str();
    const int before = ModemLinesBeforeOpen(openPath);
    const int fd = ::open(openPath, O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        reason = errno;
        error = DeviceOpenMessage(path, reason);
        return nullptr;
    }
    std::unique_ptr<DeviceSerialDriver> driver(new DeviceSerialDriver(fd));
    termios2 termios{};
    if (const int refused = driver->GetTermios(termios); refused != 0) {
        reason = refused == EINVAL ? ENOTTY : refused;
        error = DeviceOpenMessage(path, reason);
        return nullptr;
    }
    // The open raised DTR and RTS: put back what the open, not the user, changed.
    int now = 0;
    if (driver->GetModemLines(now) == 0) {
        if (before >= 0)
            PutBackOpenedLines(*driver, path, now & ~before, notice);
        if (before < 0 && notice != nullptr && (now & (TIOCM_DTR | TIOCM_RTS)) != 0) {
            *notice = "opening " + path +
                      " may have raised DTR and RTS (the kernel does so on "
                      "every open)";
        }
    }
    return driver;
}

void PutBackOpenedLines(SerialDriver& driver, const std::string& path, int raisedByOpen,
                        std::string* notice) {
    const int raised = raisedByOpen & (TIOCM_DTR | TIOCM_RTS);
    if (raised == 0)
        return;
    if (const int error = driver.DropModemLines(raised); error != 0 && notice != nullptr) {
        *notice = "opening " + path + " raised " +
                  (raised == (TIOCM_DTR | TIOCM_RTS) ? "DTR and RTS"
                   : raised == TIOCM_DTR             ? "DTR"
                                                     : "RTS") +
                  ", and the driver refused to drop them again (" + std::strerror(error) + ")";
    }
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

}  // namespace uart
