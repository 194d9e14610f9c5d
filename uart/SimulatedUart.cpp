#include "uart/SimulatedUart.h"

#include <cstdio>

#include "uart/Registers.h"

namespace uart {

const char* ParityName(Parity parity) {
    switch (parity) {
        case Parity::None:
            return "none";
        case Parity::Odd:
            return "odd";
        case Parity::Even:
            return "even";
        case Parity::Mark:
            return "mark";
        case Parity::Space:
            return "space";
    }
    return "?";
}

std::string Describe(const UartView& view) {
    static constexpr char kParityLetters[] = "NOEMS";
    char text[128];
    std::snprintf(text, sizeof text, "%u (%.2f Bd) %d%c%g%s DTR%c RTS%c OUT1%c OUT2%c LOOP%c",
                  view.divisor, view.rate, view.dataBits,
                  kParityLetters[static_cast<int>(view.parity)], view.stopBits,
                  view.breakOn ? " BREAK" : "", view.dtr ? '+' : '-', view.rts ? '+' : '-',
                  view.out1 ? '+' : '-', view.out2 ? '+' : '-', view.loop ? '+' : '-');
    return text;
}

SimulatedUart::SimulatedUart(std::uint16_t base) : base_(base) {}

bool SimulatedUart::LatchOpen() const {
    return (lcr_ & kLcrDlab) != 0;
}

void SimulatedUart::Out(std::uint16_t port, std::uint8_t value) {
    if (port < base_ || port >= base_ + kRegisterCount)
        return;  // not this UART
    switch (port - base_) {
        case kRxTx:
            if (LatchOpen()) {
                dll_ = value;
            } else {
                ++transmitted_;
            }
            break;
        case kInterruptEnable:
            if (LatchOpen()) {
                dlm_ = value;
            } else {
                ier_ = value & 0x0F;
            }
            break;
        case kInterruptId:
            fcr_ = value;
            break;
        case kLineControl:
            lcr_ = value;
            break;
        case kModemControl:
            mcr_ = value;
            break;
        case kScratch:
            scratch_ = value;
            break;
        default:
            break;  // line and modem status are read-only
    }
}

std::uint8_t SimulatedUart::In(std::uint16_t port) {
    if (port < base_ || port >= base_ + kRegisterCount)
        return 0xFF;  // nothing answers
    switch (port - base_) {
        case kRxTx:
            return LatchOpen() ? dll_ : 0x00;
        case kInterruptEnable:
            return LatchOpen() ? dlm_ : ier_;
        case kInterruptId:
            return (fcr_ & 0x01) != 0 ? 0xC1 : 0x01;  // no interrupt pending
        case kLineControl:
            return lcr_;
        case kModemControl:
            return mcr_;
        case kLineStatus:
            return kLsrIdle;
        case kModemStatus: {
            if ((mcr_ & kMcrLoop) == 0)
                return kMsrCts | kMsrDsr | kMsrDcd;
            // Loop-back wires the modem outputs to the inputs.
            std::uint8_t msr = 0;
            if (mcr_ & kMcrRts)
                msr |= kMsrCts;
            if (mcr_ & kMcrDtr)
                msr |= kMsrDsr;
            if (mcr_ & kMcrOut1)
                msr |= kMsrRi;
            if (mcr_ & kMcrOut2)
                msr |= kMsrDcd;
            return msr;
        }
        case kScratch:
            return scratch_;
        default:
            return 0xFF;
    }
}

UartView SimulatedUart::View() const {
    UartView view{};
    view.divisor = Divisor();
    view.rate = view.divisor != 0 ? kDivisorBase / view.divisor : 0.0;
    view.dataBits = 5 + (lcr_ & kLcrWordLengthMask);
    switch (lcr_ & kLcrParityMask) {
        case kParityOdd:
            view.parity = Parity::Odd;
            break;
        case kParityEven:
            view.parity = Parity::Even;
            break;
        case kParityMark:
            view.parity = Parity::Mark;
            break;
        case kParitySpace:
            view.parity = Parity::Space;
            break;
        default:
            view.parity = Parity::None;
            break;  // parity enable clear
    }
    view.stopBits = (lcr_ & kLcrStop) == 0 ? 1.0 : (view.dataBits == 5 ? 1.5 : 2.0);
    view.breakOn = (lcr_ & kLcrBreak) != 0;
    view.dtr = (mcr_ & kMcrDtr) != 0;
    view.rts = (mcr_ & kMcrRts) != 0;
    view.out1 = (mcr_ & kMcrOut1) != 0;
    view.out2 = (mcr_ & kMcrOut2) != 0;
    view.loop = (mcr_ & kMcrLoop) != 0;
    return view;
}

}  // namespace uart
