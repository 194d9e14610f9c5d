// SPDX-License-Identifier: GPL-3.0-or-later
// A stand-in for the serial driver's ioctls, with the habits of real drivers to switch on.
#pragma once

#include <QString>
#include <QStringList>

#include "serial/SerialDriver.h"

class FakeSerialDriver final : public serial::SerialDriver {
  public:
    FakeSerialDriver();
    ~FakeSerialDriver() override;
    FakeSerialDriver(const FakeSerialDriver&) = default;
    FakeSerialDriver& operator=(const FakeSerialDriver&) = default;

    int GetTermios(termios2& out) override;
    int SetTermios(const termios2& in) override;
    int GetSerial(serial_struct& out) override;
    int SetSerial(const serial_struct& in) override;
    int GetModemLines(int& out) override;
    int RaiseModemLines(int bits) override;
    int DropModemLines(int bits) override;
    int GetOutputQueue(int& out) override;
    int GetTransmitterEmpty(bool& empty) override;
    bool HeldOpenElsewhere() override { return heldElsewhere; }
    int Descriptor() const override { return descriptor; }
    dev_t Device() override { return device; }

    termios2 termios{};
    serial_struct serial{};
    int lines = 0;
    int queued = 0;  // codes written that it has not sent yet
    // What TIOCSERGETLSR answers: 0 (the transmitter empty once nothing is queued), or the errno
    // of a driver that does not tell.
    int transmitterError = ENOTTY;
    int descriptor = -1;  // where a bridge's data goes (a pty standing in for the device)
    bool gone = false, noSerial = false, refusesCustom = false, ignoresCustom = false;
    bool dropsMarkSpace = false;
    // As the 8250 core does for the mini UART: five- and six-bit words become seven, and parity
    // and the longer stop are cleared, in the termios it keeps.
    bool miniUartFraming = false;
    // A whole rate below it is not taken: the rate before stays, and is what it reports.
    unsigned lowestRate = 0;
    bool goneAfterSet = false;   // unplugged right after it took the line settings
    bool heldElsewhere = false;  // another program has the device open
    int setTermiosError = 0;
    int dropError = 0;
    dev_t device = 0;
    FakeSerialDriver* closedInto = nullptr;  // given the driver as it is when it is closed
    QStringList calls;
    QList<qint64> callTimes;  // when each call came, in milliseconds of the steady clock

  private:
    void Called(const QString& call);
};
