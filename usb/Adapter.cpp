// SPDX-License-Identifier: GPL-3.0-or-later
#include "usb/Adapter.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace usb {
namespace {

namespace fs = std::filesystem;

// The first line of a sysfs attribute, blanks around it dropped; empty when there is none.
std::string Attribute(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    const auto first = line.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    return line.substr(first, line.find_last_not_of(" \t\r") - first + 1);
}

int Number(const fs::path& file, int base) {
    const std::string text = Attribute(file);
    return static_cast<int>(std::strtol(text.c_str(), nullptr, base));
}

// "2.00" (how sysfs writes bcdUSB) as 0x0200.
std::uint16_t UsbVersion(const fs::path& file) {
    const std::string text = Attribute(file);
    char* end = nullptr;
    const long major = std::strtol(text.c_str(), &end, 16);
    const long minor = *end == '.' ? std::strtol(end + 1, nullptr, 16) : 0;
    return static_cast<std::uint16_t>(((major & 0xFF) << 8) | (minor & 0xFF));
}

fs::path Resolved(const fs::path& link) {
    std::error_code error;
    fs::path target = fs::canonical(link, error);
    return error ? fs::path() : target;
}

}  // namespace

std::optional<Adapter> IdentifyAdapter(dev_t device, const std::string& sysfs) {
    const fs::path root(sysfs);
    const fs::path tty =
        Resolved(root / "dev" / "char" /
                 (std::to_string(major(device)) + ":" + std::to_string(minor(device))));
    const fs::path port = tty.empty() ? fs::path() : Resolved(tty / "device");
    const fs::path driver = port.empty() ? fs::path() : Resolved(port / "driver");
    if (driver.empty())
        return std::nullopt;  // a virtual terminal, a pseudo-terminal, or not a tty at all
    Adapter adapter;
    adapter.driver = driver.filename().string();
    std::error_code error;
    adapter.latencyTimer = fs::exists(port / "latency_timer", error);
    // Up from the port: the USB interface it belongs to, then the USB device itself.
    fs::path up = port;
    for (int level = 0; level < 4 && up.has_relative_path(); ++level, up = up.parent_path()) {
        if (fs::exists(up / "bInterfaceNumber", error))
            adapter.interfaceNumber = Number(up / "bInterfaceNumber", 16);
        if (!fs::exists(up / "idVendor", error))
            continue;
        adapter.usb = true;
        adapter.vendor = static_cast<std::uint16_t>(Number(up / "idVendor", 16));
        adapter.product = static_cast<std::uint16_t>(Number(up / "idProduct", 16));
        adapter.release = static_cast<std::uint16_t>(Number(up / "bcdDevice", 16));
        adapter.usbVersion = UsbVersion(up / "version");
        adapter.deviceClass = Number(up / "bDeviceClass", 16);
        adapter.maxPacketSize0 = Number(up / "bMaxPacketSize0", 10);
        adapter.interfaces = Number(up / "bNumInterfaces", 10);
        adapter.productName = Attribute(up / "product");
        break;
    }
    if (!adapter.usb) {
        // A device tree's strings end in NUL, not in a line's end.
        std::string model = Attribute(root / "firmware" / "devicetree" / "base" / "model");
        adapter.machine = model.substr(0, model.find('\0'));
    }
    return adapter;
}

std::optional<Adapter> IdentifyAdapter(const std::string& path, const std::string& sysfs) {
    struct stat file {};
    if (stat(path.c_str(), &file) != 0 || !S_ISCHR(file.st_mode))
        return std::nullopt;
    return IdentifyAdapter(file.st_rdev, sysfs);
}

}  // namespace usb
