// SPDX-License-Identifier: GPL-3.0-or-later
// The Linux serial driver's calls that the driver backend needs, behind an interface so that
// tests can stand in for the kernel. Each call returns 0 or an errno value.
#pragma once

// termios2 and BOTHER come from the kernel's own header; <termios.h> must not be mixed in.
#include <asm/termbits.h>
#include <linux/serial.h>
#include <linux/tty_flags.h>
#include <sys/types.h>

#include <cerrno>
#include <memory>
#include <string>

#include "uart/LineOutcome.h"

namespace serial {

class SerialDriver {
  public:
    virtual ~SerialDriver() = default;
    virtual int GetTermios(termios2& termios) = 0;           // TCGETS2
    virtual int SetTermios(const termios2& termios) = 0;     // TCSETS2, at once
    virtual int GetSerial(serial_struct& serial) = 0;        // TIOCGSERIAL
    virtual int SetSerial(const serial_struct& serial) = 0;  // TIOCSSERIAL
    virtual int GetModemLines(int& lines) = 0;               // TIOCMGET
    virtual int RaiseModemLines(int lines) = 0;              // TIOCMBIS
    virtual int DropModemLines(int lines) = 0;               // TIOCMBIC
    // TIOCOUTQ: the bytes written to the device that the driver has not sent yet.
    virtual int GetOutputQueue(int& bytes) = 0;
    // TIOCSERGETLSR: whether the transmitter has sent its last stop bit. The 8250 family's
    // drivers tell; most others do not (ENOTTY, EINVAL or EIO), and the caller waits a code's
    // time after the queue is empty instead.
    virtual int GetTransmitterEmpty(bool& empty) { return (empty = false, ENOTTY); }
    // Whether another process is seen holding the device open; false also when that cannot be
    // told (another user's descriptors are hidden from this one).
    virtual bool HeldOpenElsewhere() = 0;
    // The device's number; 0 where there is none.
    virtual dev_t Device() { return 0; }
    // The open device, for the data that a bridge moves through it; -1 where there is none.
    virtual int Descriptor() const { return -1; }
};

// A serial device opened as a terminal program's neighbour: O_RDWR | O_NONBLOCK | O_NOCTTY,
// never locked exclusively, kept open for the program's life. Every open makes the kernel raise
// DTR and RTS, even beside another holder, so how they stood before cannot be known: Open says
// that they may have been raised. (The 8250 driver's machine-wide status file would
// tell root, but reading it reads every UART's modem status register and clears the delta bits
// other programs wait on.)
class DeviceSerialDriver final : public SerialDriver {
  public:
    // The device, and in `opened` what opening it did. Null when it cannot be used: `opened`
    // then fails, with DeviceOpenMessage and the errno value behind it (ENOTTY for a device that
    // is no serial port). `path` names the device in messages; `openPath`, when given, is what
    // is opened instead (the /proc/self/fd link of a file already found).
    static std::unique_ptr<DeviceSerialDriver> Open(const std::string& path,
                                                    uart::LineOutcome& opened,
                                                    const char* openPath = nullptr);
    ~DeviceSerialDriver() override;

    int Descriptor() const override { return fd_; }

    int GetTermios(termios2& termios) override;
    int SetTermios(const termios2& termios) override;
    int GetSerial(serial_struct& serial) override;
    int SetSerial(const serial_struct& serial) override;
    int GetModemLines(int& lines) override;
    int RaiseModemLines(int lines) override;
    int DropModemLines(int lines) override;
    int GetOutputQueue(int& bytes) override;
    int GetTransmitterEmpty(bool& empty) override;
    // Looks through /proc/*/fd for the same device, this process's own descriptors left out.
    bool HeldOpenElsewhere() override;
    dev_t Device() override;

  private:
    explicit DeviceSerialDriver(int fd) : fd_(fd) {}
    int fd_;
};

// The message for a failed open of `path` with `error`: what happened and why, its last line
// without an end, for what to do to follow where the command line is known.
std::string DeviceOpenMessage(const std::string& path, int error);

}  // namespace serial
