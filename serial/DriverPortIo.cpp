// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/DriverPortIo.h"

#include <sys/ioctl.h>
#include <sys/sysmacros.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <utility>

#include "os/CLocale.h"
#include "uart/Framing.h"
#include "uart/LineSettings.h"
#include "uart/Registers.h"

namespace serial {
using os::FormatC;
using uart::Framing;
using uart::kDivisorBase;
using uart::kMcrDtr;
using uart::kMcrLoop;
using uart::kMcrOut1;
using uart::kMcrOut2;
using uart::kMcrRts;
using uart::kMsrCts;
using uart::kMsrDcd;
using uart::kMsrDsr;
using uart::kMsrRi;
using uart::LineOutcome;
using uart::LineState;
using uart::RateOfDivisor;
using uart::Reg;
using uart::RunningRate;
using usb::Chip;
using usb::kRateTolerancePercent;
using usb::WholeRate;

namespace {

// Modem-line bits of TIOCMGET beyond DTR and RTS, as <asm/termios.h> numbers them.
constexpr int kTiocmOut1 = 0x2000;
constexpr int kTiocmOut2 = 0x4000;
constexpr int kTiocmLoop = 0x8000;

constexpr struct {
    std::uint8_t mcr;
    int tiocm;
} kModemBits[] = {
    {kMcrDtr, TIOCM_DTR},   {kMcrRts, TIOCM_RTS},   {kMcrOut1, kTiocmOut1},
    {kMcrOut2, kTiocmOut2}, {kMcrLoop, kTiocmLoop},
};

constexpr struct {
    int tiocm;
    std::uint8_t msr;
} kStatusBits[] = {
    {TIOCM_CTS, kMsrCts},
    {TIOCM_DSR, kMsrDsr},
    {TIOCM_RNG, kMsrRi},
    {TIOCM_CAR, kMsrDcd},
};

std::string Error(int error) {
    return std::strerror(error);
}

bool MeansGone(int error) {
    return error == EIO || error == ENODEV || error == ENXIO;
}

// What the chip runs for the whole rate `rate` asked of its driver.
RunningRate ChipRunning(const Chip& chip, unsigned rate) {
    if (const std::optional<double> runs = ChipRate(chip, rate))
        return {*runs, "the " + chip.name + " runs"};
    return {static_cast<double>(rate), "the driver reports", false};
}

// Asks the driver for the whole rate `rate` in place of a divisor.
void AskWholeRate(termios2& wanted, speed_t rate) {
    wanted.c_cflag = (wanted.c_cflag & ~(CBAUD | CIBAUD)) | BOTHER;
    wanted.c_ispeed = wanted.c_ospeed = rate;
}

std::uint8_t ModemControlFrom(int lines) {
    std::uint8_t mcr = 0;
    for (const auto& bit : kModemBits) {
        if (lines & bit.tiocm)
            mcr |= bit.mcr;
    }
    return mcr;
}

}  // namespace

DriverPortIo::DriverPortIo(std::uint16_t base, std::string device,
                           std::unique_ptr<SerialDriver> driver, std::optional<Chip> chip)
    : image_(base), device_(std::move(device)), driver_(std::move(driver)), chip_(std::move(chip)) {
    // The Raspberry Pi's UARTs divide a clock that only their driver tells: once, here.
    serial_struct serial{};
    if (chip_ && chip_->clockFromDriver && driver_->GetSerial(serial) == 0 && serial.baud_base > 0)
        usb::KnowClock(*chip_, serial.baud_base * 16.0);
}

std::string DriverPortIo::Label(std::int32_t) const {
    std::string label = device_ + " \u00B7 driver";
    if (chip_)
        label += " \u00B7 " + usb::ChipLabel(*chip_);
    return label;
}

LineOutcome DriverPortIo::TakeOutcome() {
    LineOutcome outcome = PortIo::TakeOutcome();
    outcome.running = std::exchange(runningRate_, std::nullopt);
    return outcome;
}

LineOutcome DriverPortIo::CannotSend(const Framing& framing) const {
    return chip_ ? usb::CannotSend(*chip_, std::nullopt, 0, framing) : LineOutcome();
}

void DriverPortIo::MarkGoneOn(int error) {
    if (MeansGone(error))
        gone_ = true;
}

void DriverPortIo::SayFailed(int error, const std::string& what, const char* whenGone) {
    MarkGoneOn(error);
    Say(gone_ ? device_ + " is gone (unplugged?)" + whenGone : what + " (" + Error(error) + ")",
        true);
}

void DriverPortIo::Out(std::uint16_t port, std::uint8_t value) {
    const Reg reg = image_.Decode(port);
    switch (reg) {
        case Reg::Data:
            break;  // data is the terminal program's: never sent from here
        case Reg::DivisorLow:
        case Reg::DivisorHigh:
            image_.Store(reg, value);
            divisorWritten_ = true;
            break;
        case Reg::LineControl:
            image_.Store(reg, value);
            if (!image_.LatchOpen()) {
                // Closing the latch completes the change: rate and framing go to the driver.
                SetDriverLine(divisorWritten_);
                divisorWritten_ = false;
            }
            break;
        case Reg::ModemControl:
            SetModemLines(value);
            break;
        default:
            image_.Store(reg, value);
            break;
    }
}

void DriverPortIo::SetModemLines(std::uint8_t value) {
    if (gone_) {
        Say(device_ + " is gone: the modem lines were not set", true);
        return;
    }
    const std::uint8_t changed = value ^ image_.ModemControl();
    int raise = 0, drop = 0;
    for (const auto& bit : kModemBits) {
        if ((changed & bit.mcr) == 0)
            continue;
        if (bit.mcr != kMcrDtr && bit.mcr != kMcrRts) {
            Say("OUT1, OUT2 and loop-back belong to the driver: left as they are");
            continue;
        }
        ((value & bit.mcr) ? raise : drop) |= bit.tiocm;
    }
    int error = raise != 0 ? driver_->RaiseModemLines(raise) : 0;
    if (error == 0 && drop != 0)
        error = driver_->DropModemLines(drop);
    if (error != 0) {
        SayFailed(error, "the driver refused the modem lines");
        return;
    }
    image_.Store(Reg::ModemControl, value);
    // Where a line reaches no pin, that is said once, whatever switched it.
    if (const std::string pins = chip_ ? usb::ModemLinePins(*chip_) : "";
        !pins.empty() && !pinsSaid_) {
        Say(pins);
        pinsSaid_ = true;
    }
}

std::uint8_t DriverPortIo::In(std::uint16_t port) {
    const Reg reg = image_.Decode(port);
    switch (reg) {
        case Reg::LineControl:
            // While the latch is closed the framing is the driver's as it stands now: another
            // program may have changed it since this one last wrote.
            return image_.LatchOpen() ? image_.Load(reg) : LineControlFromDriver();
        case Reg::ModemControl:
        case Reg::ModemStatus:
            return ModemLinesFromDriver(reg);
        default:
            return image_.Load(reg);
    }
}

std::uint8_t DriverPortIo::LineControlFromDriver() {
    termios2 termios{};
    const int error = gone_ ? ENODEV : driver_->GetTermios(termios);
    if (error != 0) {
        SayFailed(error, "could not read the line settings");
        return image_.LineControl();
    }
    return Framing::FromTermios(termios.c_cflag).LineControl();
}

std::uint8_t DriverPortIo::ModemLinesFromDriver(Reg reg) {
    int lines = 0;
    const int error = gone_ ? ENODEV : driver_->GetModemLines(lines);
    if (error != 0) {
        SayFailed(error, "the driver does not report the modem lines");
        return reg == Reg::ModemControl ? image_.ModemControl() : 0x00;
    }
    if (reg == Reg::ModemStatus) {
        std::uint8_t msr = 0;
        for (const auto& bit : kStatusBits) {
            if (lines & bit.tiocm)
                msr |= bit.msr;
        }
        return msr;
    }
    const std::uint8_t mcr = ModemControlFrom(lines);
    image_.Store(Reg::ModemControl, mcr);
    return mcr;
}

std::optional<LineState> DriverPortIo::ReadLineState(std::int32_t) {
    termios2 termios{};
    serial_struct serial{};
    int lines = 0;
    int error = gone_ ? ENODEV : driver_->GetTermios(termios);
    // A custom divisor runs only at the termios rate 38400; a driver without serial settings
    // (many USB adapters) runs at the termios rate.
    const bool custom = error == 0 && (termios.c_cflag & CBAUD) == B38400 &&
                        driver_->GetSerial(serial) == 0 &&
                        (serial.flags & ASYNC_SPD_MASK) == ASYNC_SPD_CUST &&
                        serial.custom_divisor > 0 && serial.baud_base > 0;
    if (error == 0)
        error = driver_->GetModemLines(lines);
    if (error != 0) {
        SayFailed(error, "could not read the line settings");
        return std::nullopt;
    }
    LineState state;
    state.lineControl = Framing::FromTermios(termios.c_cflag).LineControl();
    state.modemControl = ModemControlFrom(lines);
    image_.Store(Reg::ModemControl, state.modemControl);
    if (chip_ && !chip_->customDivisor) {
        // The driver reports what it was asked; the chip runs what its arithmetic makes of that.
        const auto asked = custom ? static_cast<unsigned>(serial.baud_base / serial.custom_divisor)
                                  : termios.c_ospeed;
        state.rate = ChipRate(*chip_, asked);
    } else if (custom) {
        state.rate = static_cast<double>(serial.baud_base) / serial.custom_divisor;
    } else if (termios.c_ospeed != 0) {
        state.rate = termios.c_ospeed;
    }
    return state;
}

std::string DriverPortIo::HoldKey(std::int32_t) {
    // Behind USB the field is no address: several drivers (f81534, whiteheat, usb_wwan ...) put
    // the port's index on its adapter there, and two adapters "at 0x1" would exclude each other.
    // Nor behind any other chip (the PL011): no hold over the I/O ports reaches it.
    serial_struct serial{};
    if (!chip_ && !gone_ && driver_->GetSerial(serial) == 0 && serial.port != 0)
        return PortIo::HoldKey(static_cast<std::int32_t>(serial.port));
    const dev_t device = driver_->Device();
    return device == 0 ? "" : FormatC("%u:%u", major(device), minor(device));
}

std::string DriverPortIo::ModemLinesAtExit() {
    termios2 termios{};
    if (gone_ || driver_->GetTermios(termios) != 0 || (termios.c_cflag & HUPCL) == 0 ||
        driver_->HeldOpenElsewhere())
        return {};
    return "the kernel drops DTR and RTS when the last program closes " + device_ +
           " (HUPCL), and no other program was seen holding it open";
}

bool DriverPortIo::ApplyCustomDivisor(std::uint16_t divisor, SerialChange& change,
                                      std::string& why) {
    serial_struct serial{};
    if (const int error = driver_->GetSerial(serial); error != 0) {
        MarkGoneOn(error);
        why = "it has no serial settings: " + Error(error);
        return false;
    }
    change.found = serial;
    if (serial.baud_base <= 0) {
        why = "it reports no base rate";
        return false;
    }
    // The driver's divisor counts in its own base rate; this program's in 115200.
    const long custom = std::lround(divisor * static_cast<double>(serial.baud_base) / kDivisorBase);
    if (custom < 1 || custom > 0xFFFF) {
        why = "the divisor is out of its range";
        return false;
    }
    serial_struct wanted = serial;
    wanted.flags = (serial.flags & ~ASYNC_SPD_MASK) | ASYNC_SPD_CUST;
    wanted.custom_divisor = static_cast<int>(custom);
    if (const int error = driver_->SetSerial(wanted); error != 0) {
        MarkGoneOn(error);
        why = "it refused a custom divisor: " + Error(error);
        return false;
    }
    change.written = true;
    serial_struct kept{};
    if (const int error = driver_->GetSerial(kept); error != 0) {
        MarkGoneOn(error);
        why = gone_ ? device_ + " is gone" : "it could not be read back: " + Error(error);
        return false;
    }
    if (kept.custom_divisor != custom || (kept.flags & ASYNC_SPD_MASK) != ASYNC_SPD_CUST) {
        why = "it ignored the custom divisor";
        return false;
    }
    return true;
}

void DriverPortIo::ClearCustomDivisor(SerialChange& change) {
    // A custom divisor in force (another program's, this program's from before, or the one this
    // change asked for) would make the terminal program's next 38400 Bd run at its rate.
    const bool inForce =
        change.found &&
        ((change.found->flags & ASYNC_SPD_MASK) == ASYNC_SPD_CUST || change.written);
    if (!inForce || gone_)
        return;
    serial_struct cleared = *change.found;
    cleared.flags &= ~ASYNC_SPD_MASK;
    cleared.custom_divisor = 0;
    if (const int error = driver_->SetSerial(cleared); error != 0) {
        SayFailed(error, "the custom divisor could not be cleared");
        return;
    }
    change.written = true;
}

void DriverPortIo::PutBackSerial(const SerialChange& change) {
    if (!change.written || !change.found || gone_)
        return;
    if (const int error = driver_->SetSerial(*change.found); error != 0)
        SayFailed(error, "the serial settings could not be put back");
}

void DriverPortIo::SetDriverLine(bool divisorChanged) {
    if (divisorChanged)
        runningRate_.reset();
    if (gone_) {
        Say(device_ + " is gone (unplugged?): nothing was set", true);
        return;
    }
    const Framing framing = Framing::FromLineControl(image_.LineControl());
    const std::optional<std::uint16_t> divisor =
        divisorChanged ? std::optional(image_.Divisor()) : std::nullopt;
    if (chip_ && !chip_->customDivisor) {
        SetChipLine(*chip_, framing, divisor);
    } else {
        Set8250Line(framing, divisor);
    }
}

void DriverPortIo::SetChipLine(const Chip& chip, const Framing& framing,
                               std::optional<std::uint16_t> divisor) {
    const double asked = RateOfDivisor(divisor.value_or(0));
    // Nothing of a line the chip cannot send reaches the driver.
    if (LineOutcome refusal = usb::CannotSend(chip, divisor, asked, framing); refusal.failed) {
        Say(std::move(refusal));
        return;
    }
    termios2 found{}, wanted{};
    if (!TermiosWith(framing, found, wanted))
        return;
    if (divisor == 0) {
        Say("divisor 0 has no defined rate: the driver's rate is left as it was");
    } else if (divisor) {
        // The driver reports back what it likes (the request, or a rate of its own): what the
        // chip runs is computed here, for the whole rate whose outcome comes nearest.
        const speed_t rate = usb::RequestFor(chip, asked);
        AskWholeRate(wanted, rate);
        runningRate_ = ChipRunning(chip, rate);
    }
    termios2 kept{};
    if (!SendTermios(wanted, found, {}, kept))
        return;
    // Where the chip's arithmetic is not known, what the driver reports is all there is: a rate
    // other than the one asked is the one it set.
    if (divisor && *divisor != 0 && runningRate_ && !runningRate_->known &&
        kept.c_ospeed != wanted.c_ospeed &&
        !TakeOtherRate(kept.c_ospeed, wanted.c_ospeed, asked, found, {}, "", "the driver reports"))
        return;
    if (const std::string told = StopBitsTold(chip, framing); !told.empty())
        Say(told);
    if (const std::string lower = divisor ? usb::LowerClock(chip, asked) : ""; !lower.empty())
        Say(lower);
}

void DriverPortIo::Set8250Line(const Framing& framing, std::optional<std::uint16_t> divisor) {
    const double asked = RateOfDivisor(divisor.value_or(0));
    // Behind a chip whose driver would turn what it cannot send into what it can (the mini
    // UART), nothing of that line reaches the driver.
    if (chip_) {
        if (LineOutcome refusal = usb::CannotSend(*chip_, divisor, asked, framing);
            refusal.failed) {
            Say(std::move(refusal));
            return;
        }
    }
    termios2 found{}, wanted{};
    if (!TermiosWith(framing, found, wanted))
        return;
    SerialChange serialChange;
    std::optional<speed_t> wholeRate;
    std::string why;
    if (divisor == 0) {
        Say("divisor 0 has no defined rate: the driver's rate is left as it was");
    } else if (divisor && ApplyCustomDivisor(*divisor, serialChange, why)) {
        // A custom divisor takes effect while the termios rate is 38400.
        wanted.c_cflag = (wanted.c_cflag & ~(CBAUD | CIBAUD)) | B38400;
    } else if (divisor) {
        ClearCustomDivisor(serialChange);
        wholeRate = WholeRate(*divisor);
        AskWholeRate(wanted, *wholeRate);
    }
    termios2 kept{};
    if (!SendTermios(wanted, found, serialChange, kept) || !wholeRate)
        return;
    // Said once the driver has taken it, as what it took.
    const std::string noDivisor = "no exact divisor (" + why + ")";
    if (kept.c_ospeed != *wholeRate) {
        TakeOtherRate(kept.c_ospeed, *wholeRate, asked, found, serialChange, noDivisor,
                      "the driver set");
        return;
    }
    runningRate_ = RunningRate{static_cast<double>(*wholeRate), "the driver set"};
    Say(noDivisor + ": nearest whole rate " + std::to_string(*wholeRate) + " Bd set instead");
}

bool DriverPortIo::TakeOtherRate(speed_t set, speed_t requested, double asked,
                                 const termios2& found, const SerialChange& change,
                                 const std::string& why, const char* source) {
    const std::string prefix = why.empty() ? "" : why + ": ";
    if (std::fabs(set - asked) > asked * kRateTolerancePercent / 100.0) {
        runningRate_.reset();
        Say(FormatC("%sthe driver set %u Bd for the %u Bd asked, more than %.0f %% off %.2f Bd: "
                    "the line was put back as it was",
                    prefix.c_str(), set, requested, kRateTolerancePercent, asked),
            true);
        PutBack(found, change);
        return false;
    }
    runningRate_ =
        RunningRate{static_cast<double>(set), source, runningRate_ ? runningRate_->known : true};
    Say(FormatC("%sthe driver set %u Bd for the %u Bd asked", prefix.c_str(), set, requested));
    return true;
}

bool DriverPortIo::TermiosWith(const Framing& framing, termios2& found, termios2& wanted) {
    if (const int error = driver_->GetTermios(found); error != 0) {
        SayFailed(error, "could not read the line settings", ": nothing was set");
        return false;
    }
    wanted = found;
    wanted.c_cflag = (wanted.c_cflag & ~Framing::TermiosMask()) | framing.TermiosFlags();
    return true;
}

void DriverPortIo::PutBack(const termios2& found, const SerialChange& change) {
    if (gone_)
        return;
    if (const int error = driver_->SetTermios(found); error != 0)
        SayFailed(error, "the line settings could not be put back");
    PutBackSerial(change);
}

bool DriverPortIo::SendTermios(const termios2& wanted, const termios2& found,
                               const SerialChange& change, termios2& kept) {
    if (const int error = driver_->SetTermios(wanted); error != 0) {
        SayFailed(error, "the driver refused the line settings");
        // Nothing of this change is to stay: not the custom divisor it set nor one it cleared.
        PutBackSerial(change);
        return false;
    }
    if (const int error = driver_->GetTermios(kept); error != 0) {
        MarkGoneOn(error);
        if (gone_)
            Say(device_ + " is gone (unplugged?) after the change", true);
        return false;
    }
    bool ignored = false;
    const auto ignoredIf = [&](bool differs, const char* what) {
        if (differs)
            Say(std::string("the driver ignored ") + what, true);
        ignored |= differs;
    };
    ignoredIf((kept.c_cflag & CSIZE) != (wanted.c_cflag & CSIZE), "the word length");
    ignoredIf((kept.c_cflag & CSTOPB) != (wanted.c_cflag & CSTOPB), "the stop bits");
    const bool parity = (kept.c_cflag & (PARENB | PARODD)) != (wanted.c_cflag & (PARENB | PARODD));
    ignoredIf(parity, "the parity");
    ignoredIf(!parity && (kept.c_cflag & CMSPAR) != (wanted.c_cflag & CMSPAR), "mark/space parity");
    // A line half set is no line: the terminal program gets back what it had.
    if (ignored) {
        runningRate_.reset();
        PutBack(found, change);
    }
    return !ignored;
}

}  // namespace serial
