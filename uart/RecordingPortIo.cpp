// SPDX-License-Identifier: GPL-3.0-or-later
#include "uart/RecordingPortIo.h"

#include <cstdio>

#include "uart/Registers.h"

namespace uart {

std::string FormatAccess(const PortAccess& access) {
    char line[32];
    std::snprintf(line, sizeof line, "%s 0x%03X 0x%02X",
                  access.kind == PortAccess::Kind::Out ? "out" : "in", access.port, access.value);
    return line;
}

void RecordingPortIo::Out(std::uint16_t port, std::uint8_t value) {
    accesses_.push_back(OutAccess(port, value));
}

std::uint8_t RecordingPortIo::In(std::uint16_t port) {
    const auto found = readValues_.find(port);
    const std::uint8_t value = found != readValues_.end() ? found->second : kEmptyBus;
    accesses_.push_back(InAccess(port, value));
    return value;
}

}  // namespace uart
