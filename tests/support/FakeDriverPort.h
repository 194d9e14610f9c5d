// SPDX-License-Identifier: GPL-3.0-or-later
// The serial-driver backend over the fake driver, installed as the backend every register
// access goes through, with the line settings as the program starts with them: for counting
// and checking the driver calls an action costs.
#pragma once

#include <memory>

#include "FakeSerialDriver.h"
#include "serial/DriverPortIo.h"
#include "uart/LineSettings.h"

struct FakeDriverPort {
    FakeDriverPort()
        : driver(new FakeSerialDriver),
          io(0x2F8, "/dev/ttyS1", std::unique_ptr<serial::SerialDriver>(driver)),
          installed(io) {
        uart::LineSettings = uart::LineSettingsData{};
        uart::LineSettings.portBase = 0x2F8;
    }
    FakeSerialDriver* driver;  // owned by io
    serial::DriverPortIo io;
    uart::ScopedPortIo installed;
};
