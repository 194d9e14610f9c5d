// SPDX-License-Identifier: GPL-3.0-or-later
#include "line/LineRequest.h"

#include <poll.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <functional>
#include <string_view>
#include <utility>
#include <vector>

#include "line/Advice.h"
#include "line/Hold.h"
#include "os/CLocale.h"
#include "os/StatusOutput.h"
#include "os/StopSignals.h"
#include "uart/LineSettings.h"
#include "uart/Registers.h"

namespace line {
namespace {

constexpr double kMaximumRate = uart::kDivisorBase;

std::string_view Trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool IsWordLengthDigit(char c) {
    return c >= '5' && c <= '8';
}

// A part alone is a framing when a letter follows its first character ("8E1", "7m2"). A number
// with an exponent ("1e5", "1E5", "5e1": fifty) stays a rate, which is then refused; only an
// upper-case E after a word length reads as even parity ("5E1").
bool ReadsAsFraming(std::string_view part) {
    if (part.size() < 2 || !std::isalpha(static_cast<unsigned char>(part[1])))
        return false;
    if (part[1] == 'e' || part[1] == 'E')
        return part[1] == 'E' && IsWordLengthDigit(part[0]);
    return true;
}

bool AllDigits(std::string_view text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

// "45,45" is a rate written with a decimal comma, as many locales write it, and not a rate and
// a framing: `rate` and `rest` (what follows the comma) with a point, or empty when it is not.
std::string WithPoint(std::string_view rate, std::string_view rest) {
    if (!AllDigits(rate) || !AllDigits(rest.substr(0, rest.find(','))))
        return {};
    return std::string(rate) + "." + std::string(rest);
}

bool ParseRate(std::string_view text, double& rate, std::string& error) {
    const std::string copy(text);
    const std::optional<double> read = os::ReadDecimal(text);
    if (!read) {
        error = "rate '" + copy + "' is not a plain decimal number like 45.45";
        std::string capitals = copy;
        if (capitals.size() >= 2 && capitals[1] == 'e') {
            capitals[1] = 'E';
            std::string ignored;
            if (uart::Framing::Parse(capitals, ignored))
                error += "; a framing alone has its parity letter in capitals, like " + capitals;
        }
        return false;
    }
    rate = *read;
    if (rate <= uart::kMinimumRate || rate > kMaximumRate) {
        error = os::FormatC(
            "rate %s is outside %g to %g baud (at %g baud or less the divisor "
            "is left alone)",
            copy.c_str(), uart::kMinimumRate, kMaximumRate, uart::kMinimumRate);
        return false;
    }
    return true;
}

// The notice, after the step's own lines: on standard error when the step failed.
std::string NoticeLine(const uart::LineOutcome& outcome) {
    return (outcome.failed ? "quorlix: " : "note: ") + AdvisedNotice(outcome);
}

void SayNotice(const uart::LineOutcome& outcome, std::FILE* out, std::FILE* err) {
    if (!outcome.notice.empty())
        std::fprintf(outcome.failed ? err : out, "%s\n", NoticeLine(outcome).c_str());
}

// The framing and the rate, in one ProgramUart call, kept in `hold`, said after what came
// `before` (the open). Returns whether it failed.
bool Program(const ApplyRequest& request, uart::PortIo& io, std::int32_t base, line::Hold& hold,
             uart::LineOutcome before, std::FILE* out, std::FILE* err) {
    std::optional<uart::Framing> framing = request.framing;
    uart::LineOutcome outcome = std::move(before);
    if (!framing) {
        // A rate alone keeps the line's framing, where there is a UART to have one.
        const uart::LineControlLook look = uart::LookAtLineControl(io, base);
        outcome.Add(look.outcome);
        if (outcome.failed) {
            std::fprintf(err, "quorlix: %s: nothing was set\n", AdvisedNotice(outcome).c_str());
            return true;
        }
        framing = uart::Framing::FromLineControl(*look.lineControl);
    }
    uart::LineSettings.SetFraming(*framing);
    outcome.Add(uart::ApplyLine(base, request.rate.value_or(0.0)));
    if (request.framing)
        outcome.Add(uart::LookForUart(io, base));  // read back once: is there a UART at all?
    hold.KeepLine(request.rate.value_or(0.0), *framing, outcome.running);
    if (!outcome.failed) {
        std::fprintf(out, "rate: %s\n",
                     outcome.rate ? uart::DescribeRate(*outcome.rate, outcome.running).c_str()
                                  : "left as it was");
        std::fprintf(out, "framing: %s\n", framing->Description().c_str());
    }
    SayNotice(outcome, out, err);
    return outcome.failed;
}

// One modem line, kept in `hold`, said after what came `before` (the open). Returns whether it
// failed.
bool SetLine(const char* name, std::uint8_t mask, bool on, line::Hold& hold,
             uart::LineOutcome before, std::FILE* out, std::FILE* err) {
    uart::LineOutcome outcome = std::move(before);
    outcome.Add(uart::ApplyModemLine(mask, on));
    hold.KeepModemLine(mask, on);
    if (!outcome.failed)
        std::fprintf(out, "%s %s\n", name, on ? "on" : "off");
    SayNotice(outcome, out, err);
    return outcome.failed;
}

// "04:12:38.125": the wall-clock time, to the millisecond.
std::string TimeStamp() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    localtime_r(&now.tv_sec, &local);
    char text[16];
    std::strftime(text, sizeof text, "%H:%M:%S", &local);
    return os::FormatC("%s.%03ld", text, now.tv_nsec / 1000000);
}

// Looks at the port every kHoldInterval, asleep in poll() in between, and re-applies what
// `hold` keeps whenever something else changed it, until a stop signal (status 0) or until
// the port can no longer be looked at or set (1). `exitNote` is what the port's close will do,
// said at the end.
int KeepHeld(line::Hold& hold, const std::function<std::string()>& exitNote, std::FILE* out,
             std::FILE* err) {
    const os::StopSignals signals;
    if (signals.Fd() < 0) {
        std::fprintf(err, "quorlix: no pipe for the signals: %s\n", std::strerror(errno));
        return 1;
    }
    using Clock = std::chrono::steady_clock;
    std::fprintf(out, "hold: looking every %lld ms; %s ends it\n",
                 static_cast<long long>(line::kHoldInterval.count()), signals.Names().c_str());
    if (const std::string limit = hold.Limit(); !limit.empty())
        std::fprintf(out, "note: %s\n", limit.c_str());
    // A reader that does not keep up (a stopped terminal, a full pipe) must not hold up the
    // looks: what it cannot take now is dropped, and counted.
    os::StatusOutput said(out), complained(err);
    int status = 0;
    for (Clock::time_point next = Clock::now() + line::kHoldInterval;;) {
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(next - Clock::now()).count();
        pollfd stop{signals.Fd(), POLLIN, 0};
        const int ready = poll(&stop, 1, static_cast<int>(std::max<decltype(wait)>(wait, 0)));
        if (ready > 0)
            break;
        if (ready < 0 && errno != EINTR) {
            std::fprintf(err, "quorlix: poll failed: %s\n", std::strerror(errno));
            status = 1;
            break;
        }
        if (Clock::now() < next)
            continue;
        next = std::max(next + line::kHoldInterval, Clock::now());
        said.Flush();  // the lines before the loop, once the output flows
        const auto [look, outcome] = hold.LookAndPutBack();
        if (look == line::Hold::Look::Kept)
            continue;
        if (look != line::Hold::Look::LookFailed) {
            said.Line(TimeStamp() + " " +
                      (look == line::Hold::Look::Reapplied ? "re-applied" : "could not re-apply") +
                      ": " + hold.LastReason());
        }
        if (!outcome.notice.empty())
            (outcome.failed ? complained : said).Line(NoticeLine(outcome));
        if (outcome.failed) {
            complained.Line("quorlix: the hold ends");
            status = 1;
            break;
        }
    }
    // The port is as it should be: from here the summary may wait for its reader, a while.
    std::vector<std::string> last{"hold ended: " + hold.Summary()};
    if (const std::string note = exitNote(); !note.empty())
        last.push_back("note: " + note);
    complained.Finish({}, os::kEndWait);
    said.Finish(last, os::kEndWait);
    return status;
}

}  // namespace

bool ParseApply(const std::string& text, ApplyRequest& request, std::string& error) {
    request.program = true;
    const std::string_view whole = Trim(text);
    std::string_view rateText = whole, framingText;
    if (const auto comma = whole.find(','); comma != std::string_view::npos) {
        rateText = Trim(whole.substr(0, comma));
        framingText = Trim(whole.substr(comma + 1));
        if (framingText.empty()) {
            error = "nothing follows the comma in '" + text + "'";
            return false;
        }
        if (const std::string pointed = WithPoint(rateText, framingText); !pointed.empty()) {
            error = "'" + text + "' has a decimal comma: use a point: " + pointed;
            return false;
        }
    } else if (ReadsAsFraming(whole)) {
        rateText = {};
        framingText = whole;
    }
    if (rateText.empty() && framingText.empty()) {
        error = "--apply needs a rate, a framing or both, like 45.45,5N1.5";
        return false;
    }
    if (!rateText.empty()) {
        double rate = 0;
        if (!ParseRate(rateText, rate, error))
            return false;
        request.rate = rate;
    }
    if (!framingText.empty()) {
        request.framing = uart::Framing::Parse(framingText, error);
        if (!request.framing)
            return false;
    }
    return true;
}

int RunScripted(const ApplyRequest& request, uart::PortIo& io, std::int32_t base, std::FILE* out,
                std::FILE* err, const uart::LineOutcome& opened) {
    uart::LineSettings.portBase = base;
    std::fprintf(out, "%s\n", io.Label(base).c_str());
    // A hold of a UART that another process holds would set the line against it for ever.
    std::unique_ptr<line::HoldLock> lock;
    if (request.hold) {
        std::string refusal, notice;
        lock = line::HoldLock::Take(io, base, refusal, notice, request.lockFolder);
        if (!lock) {
            std::fprintf(err, "quorlix: %s: the hold does not start\n", refusal.c_str());
            return 1;
        }
        if (!notice.empty())
            std::fprintf(out, "note: %s\n", notice.c_str());
    }
    line::Hold hold(base);
    bool failed = false;
    // What the open had to say goes with the first step.
    uart::LineOutcome unsaid = opened;
    if (request.program)
        failed |= Program(request, io, base, hold, std::exchange(unsaid, {}), out, err);
    const bool linesSkipped = failed && (request.dtr || request.rts);
    if (linesSkipped) {
        // A line raised on a line that is not as asked would start the machine at the wrong
        // rate or framing (DTR often switches its motor).
        std::fprintf(err, "quorlix: %s left as %s: the line was not set\n",
                     request.dtr && request.rts ? "DTR and RTS"
                     : request.dtr              ? "DTR"
                                                : "RTS",
                     request.dtr && request.rts ? "they were" : "it was");
    } else {
        if (request.dtr)
            failed |= SetLine("DTR", uart::kMcrDtr, *request.dtr, hold, std::exchange(unsaid, {}),
                              out, err);
        if (request.rts)
            failed |= SetLine("RTS", uart::kMcrRts, *request.rts, hold, std::exchange(unsaid, {}),
                              out, err);
    }
    // Only a line asked to be up has anything for the last close to undo, whichever open raised
    // it.
    const bool raised =
        !linesSkipped && (request.dtr.value_or(false) || request.rts.value_or(false));
    const auto exitNote = [&] {
        return raised && !request.portStaysOpen ? io.ModemLinesAtExit() : std::string();
    };
    if (!failed && request.hold)
        return KeepHeld(hold, exitNote, out, err);
    if (const std::string note = exitNote(); !note.empty())
        std::fprintf(out, "note: %s%s\n", note.c_str(), request.hold ? "" : "; --hold keeps them");
    return failed ? 1 : 0;
}

}  // namespace line
