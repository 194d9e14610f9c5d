// SPDX-License-Identifier: GPL-3.0-or-later
#include "uart/RegisterImage.h"

#include "uart/Registers.h"

namespace uart {

RegisterImage::RegisterImage(std::uint16_t base, std::uint16_t divisor, std::uint8_t modemControl)
    : base_(base),
      dll_(static_cast<std::uint8_t>(divisor & 0xFF)),
      dlm_(static_cast<std::uint8_t>(divisor >> 8)),
      mcr_(modemControl) {}

bool RegisterImage::LatchOpen() const {
    return (lcr_ & kLcrDlab) != 0;
}

Reg RegisterImage::Decode(std::uint16_t port) const {
    if (port < base_ || port >= base_ + kRegisterCount)
        return Reg::None;
    switch (port - base_) {
        case kRxTx:
            return LatchOpen() ? Reg::DivisorLow : Reg::Data;
        case kInterruptEnable:
            return LatchOpen() ? Reg::DivisorHigh : Reg::InterruptEnable;
        case kInterruptId:
            return Reg::Fifo;
        case kLineControl:
            return Reg::LineControl;
        case kModemControl:
            return Reg::ModemControl;
        case kLineStatus:
            return Reg::LineStatus;
        case kModemStatus:
            return Reg::ModemStatus;
        default:
            return Reg::Scratch;
    }
}

void RegisterImage::Store(Reg reg, std::uint8_t value) {
    switch (reg) {
        case Reg::DivisorLow:
            dll_ = value;
            break;
        case Reg::DivisorHigh:
            dlm_ = value;
            break;
        case Reg::InterruptEnable:
            ier_ = static_cast<std::uint8_t>(value & kIerMask);
            break;
        case Reg::Fifo:
            fcr_ = value;
            break;
        case Reg::LineControl:
            lcr_ = value;
            break;
        case Reg::ModemControl:
            mcr_ = value;
            break;
        case Reg::Scratch:
            scratch_ = value;
            break;
        default:
            break;  // data goes out, the status registers are read-only
    }
}

std::uint8_t RegisterImage::Load(Reg reg) const {
    switch (reg) {
        case Reg::Data:
            return 0x00;
        case Reg::DivisorLow:
            return dll_;
        case Reg::DivisorHigh:
            return dlm_;
        case Reg::InterruptEnable:
            return ier_;
        case Reg::Fifo:
            return (fcr_ & kFcrFifoEnable) != 0 ? kIirFifosEnabled | kIirNoInterrupt
                                                : kIirNoInterrupt;
        case Reg::LineControl:
            return lcr_;
        case Reg::ModemControl:
            return mcr_;
        case Reg::LineStatus:
            return kLsrIdle;
        case Reg::ModemStatus:
            return 0x00;
        case Reg::Scratch:
            return scratch_;
        case Reg::None:
            break;
    }
    return kEmptyBus;
}

}  // namespace uart
