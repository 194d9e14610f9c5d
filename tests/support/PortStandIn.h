// SPDX-License-Identifier: GPL-3.0-or-later
// A pty pair standing in for a serial port, for the bridge's loop: the bridge gets the raw,
// non-blocking slave; whoever plays the teleprinter reads and writes the master.
#pragma once

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>

#include "bridge/Pump.h"

struct PortStandIn {
    PortStandIn() {
        teleprinter = posix_openpt(O_RDWR | O_NOCTTY);
        grantpt(teleprinter);
        unlockpt(teleprinter);
        port = open(ptsname(teleprinter), O_RDWR | O_NOCTTY | O_NONBLOCK);
        termios2 termios{};
        ioctl(port, TCGETS2, &termios);
        bridge::MakeRaw(termios);
        ioctl(port, TCSETS2, &termios);
    }
    ~PortStandIn() {
        close(port);
        if (teleprinter >= 0)
            close(teleprinter);
    }
    PortStandIn(const PortStandIn&) = delete;
    PortStandIn& operator=(const PortStandIn&) = delete;

    int teleprinter, port;
};
