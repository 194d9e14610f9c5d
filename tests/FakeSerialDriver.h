// A stand-in for the serial driver's ioctls, with the habits of real drivers to switch on.
#pragma once

#include <sys/ioctl.h>
#include <QString>
#include <QStringList>
#include <cerrno>

#include "uart/SerialDriver.h"

class FakeSerialDriver final : public uart::SerialDriver {
  public:
    FakeSerialDriver() {
        termios.c_iflag = IGNBRK | IXON;
        termios.c_lflag = 0;
        termios.c_cflag = B9600 | CS8 | CREAD | CLOCAL | HUPCL;
        termios.c_cc[VMIN] = 1;
        termios.c_ispeed = termios.c_ospeed = 9600;
        serial.baud_base = 115200;
        serial.flags = ASYNC_SKIP_TEST;
    }

    int GetTermios(termios2& out) override {
        calls << "TCGETS2";
        if (gone)
            return EIO;
        out = termios;
        return 0;
    }
    int SetTermios(const termios2& in) override {
        calls << "TCSETS2";
        if (gone)
            return EIO;
        if (setTermiosError)
            return setTermiosError;
        termios = in;
        if (dropsMarkSpace)
            termios.c_cflag &= ~CMSPAR;
        if ((in.c_cflag & CBAUD) == BOTHER)
            termios.c_ospeed = termios.c_ispeed = in.c_ospeed;
        return 0;
    }
    int GetSerial(serial_struct& out) override {
        calls << "TIOCGSERIAL";
        if (gone)
            return EIO;
        if (noSerial)
            return ENOTTY;
        out = serial;
        return 0;
    }
    int SetSerial(const serial_struct& in) override {
        calls << "TIOCSSERIAL";
        if (gone)
            return EIO;
        if (refusesCustom)
            return EINVAL;
        if (!ignoresCustom)
            serial = in;
        return 0;
    }
    int GetModemLines(int& out) override {
        calls << "TIOCMGET";
        if (gone)
            return EIO;
        out = lines;
        return 0;
    }
    int RaiseModemLines(int bits) override {
        calls << QString::asprintf("TIOCMBIS 0x%X", bits);
        if (gone)
            return EIO;
        lines |= bits;
        return 0;
    }
    int DropModemLines(int bits) override {
        calls << QString::asprintf("TIOCMBIC 0x%X", bits);
        if (gone)
            return EIO;
        lines &= ~bits;
        return 0;
    }

    termios2 termios{};
    serial_struct serial{};
    int lines = 0;
    bool gone = false, noSerial = false, refusesCustom = false, ignoresCustom = false;
    bool dropsMarkSpace = false;
    int setTermiosError = 0;
    QStringList calls;
};
