// SPDX-License-Identifier: GPL-3.0-or-later
#include "uart/LineSettings.h"

#include <pthread.h>
#include <signal.h>

#include <cmath>

#include "os/CLocale.h"
#include "uart/PortIo.h"
#include "uart/Registers.h"

namespace uart {
using os::FormatC;

namespace {

std::uint16_t Register(std::int32_t base, std::uint16_t offset) {
    return static_cast<std::uint16_t>(base + offset);
}

// Holds back every signal that can be held back for its lifetime, on this thread; they arrive
// once it ends.
class LatchGuard {
  public:
    LatchGuard() {
        sigset_t all;
        sigfillset(&all);
        pthread_sigmask(SIG_BLOCK, &all, &previous_);
    }
    ~LatchGuard() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
    LatchGuard(const LatchGuard&) = delete;
    LatchGuard& operator=(const LatchGuard&) = delete;

  private:
    sigset_t previous_;
};

// Whether `io` may find no UART at `base` and, asked, finds none (it then says so).
bool NoUartAnswersAt(PortIo& io, std::int32_t base) {
    return io.MayFindNoUart() && io.NoUartAnswers(base, io.In(Register(base, kModemControl)));
}

}  // namespace

Framing LineSettingsData::ToFraming() const {
    Framing framing;
    framing.parityBits = static_cast<std::uint8_t>(parityBits & kLcrParityMask);
    framing.wordLengthBits = static_cast<std::uint8_t>(wordLengthBits & kLcrWordLengthMask);
    framing.stopBits = static_cast<std::uint8_t>(stopBits & kLcrStop);
    return framing;
}

void LineSettingsData::SetFraming(const Framing& framing) {
    parityBits = framing.parityBits;
    wordLengthBits = framing.wordLengthBits;
    stopBits = framing.stopBits;
}

std::uint8_t FramingByte(const LineSettingsData& settings) {
    return settings.ToFraming().LineControl();
}

std::uint16_t DivisorForRate(double rate) {
    // The conversion truncates; a divisor is never rounded to the nearest value.
    const double quotient = std::trunc(kDivisorBase / rate);
    if (!(quotient >= 0.0))  // NaN, or a negative rate
        return 0;
    if (quotient >= 0xFFFF)
        return 0xFFFF;
    return static_cast<std::uint16_t>(quotient);
}

double RateOfDivisor(std::uint16_t divisor) {
    return divisor != 0 ? kDivisorBase / divisor : 0.0;
}

RateReport ReportRate(double rate) {
    RateReport report{rate, DivisorForRate(rate), 0.0, 0.0};
    if (report.divisor != 0) {
        report.produced = RateOfDivisor(report.divisor);
        report.errorPercent = (report.produced - rate) / rate * 100.0;
    }
    return report;
}

double PercentOff(double runs, double asked) {
    return std::round((runs - asked) / asked * 10000.0) / 100.0 + 0.0;
}

std::string DescribeRate(const RateReport& report, const std::optional<RunningRate>& running) {
    if (running && !running->known) {
        return FormatC("%.2f Bd asked, %s %.0f Bd; the chip's real rate is unknown", report.asked,
                       running->source.c_str(), running->rate);
    }
    if (running) {
        return FormatC("%.2f Bd asked, %s %.2f Bd (%+.2f %%)", report.asked,
                       running->source.c_str(), running->rate,
                       PercentOff(running->rate, report.asked));
    }
    return FormatC("%.2f Bd asked, divisor %u gives %.2f Bd (%+.2f %%)", report.asked,
                   report.divisor, report.produced, report.errorPercent);
}

LineOutcome ApplyLine(std::int32_t portBase, double rate) {
    const std::optional<RateReport> report = ProgramUart(portBase, rate);
    LineOutcome outcome = ThePortIo().TakeOutcome();
    outcome.rate = report;
    return outcome;
}

LineOutcome ApplyModemLine(std::uint8_t mask, bool on) {
    SetModemLine(mask, on);
    return ThePortIo().TakeOutcome();
}

LineLook LookAtLine(PortIo& io, std::int32_t base) {
    LineLook look;
    look.state = io.ReadLineState(base);
    look.outcome = io.TakeOutcome();
    look.outcome.failed |= !look.state;
    return look;
}

LineOutcome LookForUart(PortIo& io, std::int32_t base) {
    NoUartAnswersAt(io, base);
    return io.TakeOutcome();
}

LineControlLook LookAtLineControl(PortIo& io, std::int32_t base) {
    LineControlLook look;
    if (!NoUartAnswersAt(io, base))
        look.lineControl = io.In(Register(base, kLineControl));
    look.outcome = io.TakeOutcome();
    return look;
}

std::optional<RateReport> ProgramUart(std::int32_t portBase, double rate) {
    PortIo& io = ThePortIo();
    std::optional<RateReport> report;
    {
        // While the latch is open the UART serves the divisor instead of the data registers to
        // the terminal program's driver: no signal may end the process in between.
        const LatchGuard guard;
        if (rate > kMinimumRate) {  // false for NaN too
            report = ReportRate(rate);
            io.Out(Register(portBase, kLineControl), kLcrDlab);
            io.Out(Register(portBase, kDivisorHigh),
                   static_cast<std::uint8_t>(report->divisor >> 8));
            io.Out(Register(portBase, kDivisorLow),
                   static_cast<std::uint8_t>(report->divisor & 0xFF));
        }
        io.Out(Register(portBase, kLineControl), FramingByte(LineSettings));
    }
    io.ChangeDone();
    return report;
}

void SetModemLine(std::uint8_t mask, bool on) {
    PortIo& io = ThePortIo();
    const std::uint16_t mcr = Register(LineSettings.portBase, kModemControl);
    std::uint8_t value = io.In(mcr);
    // Written back, an empty bus's 0xFF would set every other bit as well: nothing is.
    if (io.NoUartAnswers(LineSettings.portBase, value))
        return;
    value = on ? static_cast<std::uint8_t>(value | mask)
               : static_cast<std::uint8_t>(value & static_cast<std::uint8_t>(~mask));
    io.Out(mcr, value);
}

}  // namespace uart
