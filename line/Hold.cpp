// SPDX-License-Identifier: GPL-3.0-or-later
#include "line/Hold.h"

#include <cmath>
#include <vector>

#include "os/CLocale.h"
#include "os/Listed.h"
#include "uart/LineSettings.h"
#include "uart/Registers.h"

namespace line {
using uart::ReportRate;

using uart::kMinimumRate;
using uart::RateReport;

using uart::ApplyLine;
using uart::Framing;

using os::FormatC;
using uart::ApplyModemLine;
using uart::kDivisorBase;
using uart::kLcrBreak;
using uart::kLcrDlab;
using uart::kLcrParityEnable;
using uart::kMcrDtr;
using uart::kMcrRts;
using uart::LineOutcome;
using uart::LineSettings;
using uart::LookAtLine;
using uart::RunningRate;
using uart::ThePortIo;

namespace {

// Two rates are the same line when they come from the same divisor.
bool SameRate(double a, double b) {
    return std::lround(kDivisorBase / a) == std::lround(kDivisorBase / b);
}

// "300", "45.46": a rate without the zeros a whole number does not need.
std::string RateText(double rate) {
    std::string text = FormatC("%.2f", rate);
    while (text.back() == '0')
        text.pop_back();
    if (text.back() == '.')
        text.pop_back();
    return text;
}

}  // namespace

void Hold::KeepLine(double rate, const Framing& framing,
                    const std::optional<RunningRate>& running) {
    framing_ = framing;
    if (!(rate > kMinimumRate))
        return;  // the divisor was left alone: what was held of it stays held
    rate_ = rate;
    const RateReport report = ReportRate(rate);
    if (running) {
        running_ = running->known ? std::optional(running->rate) : std::nullopt;
    } else {
        running_ = report.divisor != 0 ? std::optional(report.produced) : std::nullopt;
    }
}

void Hold::KeepModemLine(std::uint8_t mask, bool on) {
    (mask == kMcrDtr ? dtr_ : rts_) = on;
}

Hold::Looked Hold::LookAndPutBack() {
    if (Empty())
        return {};
    auto [state, outcome] = LookAtLine(ThePortIo(), base_);
    if (!state)
        return {Look::LookFailed, outcome};
    // The latch open: the driver is between its writes, and the next look sees where it ended.
    // Open at two looks in a row, it was left open, and a held line is set again, which closes
    // it. The modem control register is not behind the latch: held lines are looked at anyway.
    const bool latchOpen = (state->lineControl & kLcrDlab) != 0;
    const bool latchLeftOpen = latchOpen && latchSeen_ && framing_;
    latchSeen_ = latchOpen;
    const bool lineSettled = !latchOpen || latchLeftOpen;

    // The byte as written, not only the framing it means: Linux's 8250 driver sets the
    // even-parity select bit in every byte it writes without odd parity, parity on or not, and
    // this program leaves it clear at no parity, so there the driver's rewrite shows even at
    // the same framing (and so a divisor it changed behind the latch). With parity on the two
    // bytes are the same: see Limit(). A break in progress is not a change.
    const bool byteDiffers =
        lineSettled && framing_ &&
        static_cast<std::uint8_t>(state->lineControl & ~kLcrBreak) != framing_->LineControl();
    const bool rateDiffers =
        lineSettled && rate_ > 0 && running_ && state->rate && !SameRate(*state->rate, *running_);
    const bool lineDiffers = byteDiffers || rateDiffers;
    std::vector<std::string> changes;
    if (latchLeftOpen) {
        changes.push_back("left the divisor latch open");
    } else if (lineDiffers) {
        changes.push_back("set " + (state->rate ? RateText(*state->rate) + " Bd " : "") +
                          Framing::FromLineControl(state->lineControl).Compact());
    }
    struct Line {
        const std::optional<bool>& held;
        std::uint8_t mask;
        const char* name;
        bool differs;
    };
    Line lines[] = {{dtr_, kMcrDtr, "DTR", false}, {rts_, kMcrRts, "RTS", false}};
    for (Line& line : lines) {
        const bool up = (state->modemControl & line.mask) != 0;
        line.differs = line.held && up != *line.held;
        if (line.differs)
            changes.push_back((up ? "raised " : "dropped ") + std::string(line.name));
    }
    if (changes.empty())
        return {};

    if (lineDiffers) {
        LineSettings.SetFraming(*framing_);
        LineOutcome applied = ApplyLine(base_, rate_);
        KeepLine(rate_, *framing_, applied.running);
        outcome.Add(std::move(applied));
    }
    for (const Line& line : lines) {
        if (line.differs)
            outcome.Add(ApplyModemLine(line.mask, *line.held));
    }
    // The latch is closed now; open at the next look, the driver is between its writes again.
    latchSeen_ = false;
    reason_ = "the driver " + os::Listed(changes);
    if (outcome.failed)
        return {Look::ReapplyFailed, outcome};
    ++count_;
    reapplied_ = reason_;
    return {Look::Reapplied, outcome};
}

std::string Hold::Summary() const {
    if (count_ == 0)
        return "not re-applied";
    return FormatC("re-applied %d\u00D7, last: %s", count_, reapplied_.c_str());
}

std::string Hold::Limit() const {
    if (!framing_ || (framing_->parityBits & kLcrParityEnable) == 0 || !(rate_ > 0) ||
        ThePortIo().LookShowsRate())
        return {};
    return "over the I/O ports a rate the driver sets at " + framing_->Compact() + " goes unseen";
}

}  // namespace line
