#include "uart/SerialDriver.h"

#include <asm/ioctls.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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
            text += "Nothing answers there: the adapter is unplugged or the port has no UART.\n";
            break;
        default:
            break;
    }
    return text;
}

std::unique_ptr<DeviceSerialDriver> DeviceSerialDriver::Open(const std::string& path,
                                                             std::string& error) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        error = DeviceOpenMessage(path, errno);
        return nullptr;
    }
    std::unique_ptr<DeviceSerialDriver> driver(new DeviceSerialDriver(fd));
    termios2 termios{};
    if (const int failure = driver->GetTermios(termios); failure != 0) {
        error = DeviceOpenMessage(path, failure == EINVAL ? ENOTTY : failure);
        return nullptr;
    }
    return driver;
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
