#include "uart/LineSettings.h"

#include "uart/PortIo.h"
#include "uart/Registers.h"

namespace uart {
namespace {

std::uint16_t Register(std::int32_t base, std::uint16_t offset) {
    return static_cast<std::uint16_t>(base + offset);
}

}  // namespace

std::uint8_t FramingByte(const LineSettingsData& settings) {
    return static_cast<std::uint8_t>(settings.parityBits | settings.wordLengthBits |
                                     settings.stopBits);
}

std::uint16_t DivisorForRate(double rate) {
    // The conversion truncates; a divisor is never rounded to the nearest value.
    return static_cast<std::uint16_t>(static_cast<std::int32_t>(kDivisorBase / rate));
}

void ProgramUart(std::int32_t portBase, double rate) {
    PortIo& io = ThePortIo();
    if (rate > kMinimumRate) {  // false for NaN too
        const std::uint16_t divisor = DivisorForRate(rate);
        io.Out(Register(portBase, kLineControl), kLcrDlab);
        io.Out(Register(portBase, kDivisorHigh), static_cast<std::uint8_t>(divisor >> 8));
        io.Out(Register(portBase, kDivisorLow), static_cast<std::uint8_t>(divisor & 0xFF));
    }
    io.Out(Register(portBase, kLineControl), FramingByte(LineSettings));
}

void SetModemLine(std::uint8_t mask, bool on) {
    PortIo& io = ThePortIo();
    const std::uint16_t mcr = Register(LineSettings.portBase, kModemControl);
    std::uint8_t value = io.In(mcr);
    value = on ? static_cast<std::uint8_t>(value | mask)
               : static_cast<std::uint8_t>(value & static_cast<std::uint8_t>(~mask));
    io.Out(mcr, value);
}

}  // namespace uart
