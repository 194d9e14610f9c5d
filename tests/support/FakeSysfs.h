// SPDX-License-Identifier: GPL-3.0-or-later
// A sysfs tree in a folder of its own, laid out as the kernel lays it out, so that serial
// devices can be identified without the hardware behind them.
#pragma once

#include <sys/sysmacros.h>
#include <sys/types.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <string>
#include <utility>

class FakeSysfs {
  public:
    // A USB serial adapter's port as character device `device`: the driver that serves the
    // port, the USB device's descriptors (hexadecimal, as sysfs writes them), its product
    // string, FTDI's latency timer on the port where `latencyTimer`, the USB version as sysfs
    // writes bcdUSB, and the port's interface.
    void AddUsbPort(dev_t device, const QString& driver, const QString& vendor,
                    const QString& product, const QString& release, const QString& productName,
                    bool latencyTimer = false, const QString& usbVersion = QStringLiteral(" 2.00"),
                    int interfaceNumber = 0) {
        const QString usb = "devices/pci0000:00/0000:00:04.0/usb1/1-" + Number(device);
        const QString interface = usb + "/1-1:1." + QString::number(interfaceNumber);
        const QString port = interface + "/ttyUSB" + Number(device);
        for (const auto& [file, text] : {std::pair{"idVendor", vendor},
                                         {"idProduct", product},
                                         {"bcdDevice", release},
                                         {"version", usbVersion},
                                         {"bDeviceClass", QStringLiteral("00")},
                                         {"bMaxPacketSize0", QStringLiteral("64")},
                                         {"bNumInterfaces", QStringLiteral(" 1")},
                                         {"product", productName}})
            Write(usb + "/" + file, text);
        Write(interface + "/bInterfaceNumber", QString::asprintf("%02x", interfaceNumber));
        if (latencyTimer)
            Write(port + "/latency_timer", QStringLiteral("16"));
        Device(device, port, "bus/usb-serial/drivers/" + driver);
    }

    // A serial port served by `driver`, not on USB (the 8250 family).
    void AddPort(dev_t device, const QString& driver) {
        Device(device, "devices/platform/" + driver + "." + Number(device),
               "bus/platform/drivers/" + driver);
    }

    // The machine's model as its device tree gives it, NUL-terminated.
    void SetMachine(const QString& model) {
        QDir(dir_.path()).mkpath("firmware/devicetree/base");
        QFile out(dir_.filePath("firmware/devicetree/base/model"));
        if (out.open(QIODevice::WriteOnly))
            out.write(model.toUtf8() + '\0');
    }

    // A terminal with no device behind it (a pseudo-terminal).
    void AddVirtual(dev_t device) {
        const QString tty = "devices/virtual/tty/tty" + Number(device);
        QDir(dir_.path()).mkpath(tty);
        Link(tty, "dev/char/" + Numbers(device));
    }

    std::string Root() const { return dir_.path().toStdString(); }

  private:
    static QString Number(dev_t device) { return QString::number(minor(device)); }
    static QString Numbers(dev_t device) {
        return QString::number(major(device)) + ":" + QString::number(minor(device));
    }

    // The port's folder with its driver, its tty below it, and the device number's link to that.
    void Device(dev_t device, const QString& port, const QString& driver) {
        QDir(dir_.path()).mkpath(driver);
        Link(driver, port + "/driver");
        Link(port, port + "/tty/tty" + Number(device) + "/device");
        Link(port + "/tty/tty" + Number(device), "dev/char/" + Numbers(device));
    }

    void Write(const QString& file, const QString& text) {
        QDir(dir_.path()).mkpath(QFileInfo(file).path());
        QFile out(dir_.filePath(file));
        if (out.open(QIODevice::WriteOnly))
            out.write(text.toUtf8() + "\n");
    }

    void Link(const QString& target, const QString& file) {
        QDir(dir_.path()).mkpath(QFileInfo(file).path());
        QFile::link(dir_.filePath(target), dir_.filePath(file));
    }

    QTemporaryDir dir_;
};
