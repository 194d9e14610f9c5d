// SPDX-License-Identifier: GPL-3.0-or-later
// What stands behind a serial device, as the kernel's sysfs tells it without the device being
// opened: the driver, for a USB adapter the descriptors that say which chip it is, and for a
// UART of the machine's own the machine it is part of.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>

namespace usb {

struct Adapter {
    // "ftdi_sio", "ch341-uart", "cp210x", "pl2303", "cdc_acm", "serial8250", "uart-pl011"
    std::string driver;
    bool usb = false;
    // The USB device's descriptors (idVendor, idProduct, bcdDevice, bcdUSB, bDeviceClass,
    // bMaxPacketSize0, bNumInterfaces), the port's interface number and the product string.
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
    std::uint16_t release = 0;
    std::uint16_t usbVersion = 0;
    int deviceClass = 0;
    int maxPacketSize0 = 0;
    int interfaces = 1;
    int interfaceNumber = 0;
    std::string productName;
    // The port offers FTDI's latency timer: an FTDI chip of type B or later.
    bool latencyTimer = false;
    // For a port not on USB, the machine as its device tree names it ("Raspberry Pi 3 Model B
    // Rev 1.2"); empty where there is none.
    std::string machine;
};

// The adapter behind the character device numbered `device`, read from the sysfs tree at
// `sysfs`; nothing when sysfs does not know the device or names no driver for it.
std::optional<Adapter> IdentifyAdapter(dev_t device, const std::string& sysfs = "/sys");

// The adapter behind the serial device at `path`; nothing for a path that is no character
// device.
std::optional<Adapter> IdentifyAdapter(const std::string& path, const std::string& sysfs);

}  // namespace usb
