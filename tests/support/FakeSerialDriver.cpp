// SPDX-License-Identifier: GPL-3.0-or-later
#include "FakeSerialDriver.h"

#include <cerrno>
#include <chrono>

FakeSerialDriver::FakeSerialDriver() {
    termios.c_iflag = IGNBRK | IXON;
    termios.c_lflag = 0;
    termios.c_cflag = B9600 | CS8 | CREAD | CLOCAL | HUPCL;
    termios.c_cc[VMIN] = 1;
    termios.c_ispeed = termios.c_ospeed = 9600;
    serial.baud_base = 115200;
    serial.flags = ASYNC_SKIP_TEST;
}

FakeSerialDriver::~FakeSerialDriver() {
    if (closedInto != nullptr) {
        *closedInto = *this;
        closedInto->closedInto = nullptr;
    }
}

int FakeSerialDriver::GetTermios(termios2& out) {
    Called("TCGETS2");
    if (gone)
        return EIO;
    out = termios;
    return 0;
}
int FakeSerialDriver::SetTermios(const termios2& in) {
    Called("TCSETS2");
    if (gone)
        return EIO;
    if (setTermiosError)
        return setTermiosError;
    const termios2 before = termios;
    termios = in;
    if (dropsMarkSpace)
        termios.c_cflag &= ~CMSPAR;
    if (miniUartFraming) {
        termios.c_cflag &= ~(CSTOPB | PARENB | PARODD | CMSPAR);
        if ((termios.c_cflag & CSIZE) == CS5 || (termios.c_cflag & CSIZE) == CS6)
            termios.c_cflag = (termios.c_cflag & ~CSIZE) | CS7;
    }
    if ((in.c_cflag & CBAUD) == BOTHER)
        termios.c_ospeed = termios.c_ispeed = in.c_ospeed;
    if ((in.c_cflag & CBAUD) == BOTHER && in.c_ospeed < lowestRate) {
        termios.c_cflag = (termios.c_cflag & ~CBAUD) | (before.c_cflag & CBAUD);
        termios.c_ospeed = before.c_ospeed;
        termios.c_ispeed = before.c_ispeed;
    }
    gone = goneAfterSet;
    return 0;
}
int FakeSerialDriver::GetSerial(serial_struct& out) {
    Called("TIOCGSERIAL");
    if (gone)
        return EIO;
    if (noSerial)
        return ENOTTY;
    out = serial;
    return 0;
}
int FakeSerialDriver::SetSerial(const serial_struct& in) {
    Called("TIOCSSERIAL");
    if (gone)
        return EIO;
    if (refusesCustom)
        return EINVAL;
    serial = in;
    if (ignoresCustom)
        serial.custom_divisor = 0;  // takes the flags, not the divisor
    return 0;
}
int FakeSerialDriver::GetModemLines(int& out) {
    Called("TIOCMGET");
    if (gone)
        return EIO;
    out = lines;
    return 0;
}
int FakeSerialDriver::RaiseModemLines(int bits) {
    Called(QString::asprintf("TIOCMBIS 0x%X", bits));
    if (gone)
        return EIO;
    lines |= bits;
    return 0;
}
int FakeSerialDriver::DropModemLines(int bits) {
    Called(QString::asprintf("TIOCMBIC 0x%X", bits));
    if (gone)
        return EIO;
    if (dropError)
        return dropError;
    lines &= ~bits;
    return 0;
}

int FakeSerialDriver::GetOutputQueue(int& out) {
    Called("TIOCOUTQ");
    if (gone)
        return EIO;
    out = queued;
    return 0;
}

int FakeSerialDriver::GetTransmitterEmpty(bool& empty) {
    Called("TIOCSERGETLSR");
    empty = false;
    if (gone)
        return EIO;
    empty = transmitterError == 0 && queued == 0;
    return transmitterError;
}

void FakeSerialDriver::Called(const QString& call) {
    calls << call;
    callTimes << std::chrono::duration_cast<std::chrono::milliseconds>(
                     std::chrono::steady_clock::now().time_since_epoch())
                     .count();
}
