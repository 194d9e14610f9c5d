#include "app/ScriptedMode.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <string_view>

#include "uart/CLocale.h"
#include "uart/LineSettings.h"
#include "uart/Registers.h"

namespace app {
namespace {

constexpr double kMaximumRate = uart::kDivisorBase;

bool ParseRate(std::string_view text, double& rate, std::string& error) {
    const std::string copy(text);
    char* end = nullptr;
    rate = std::strtod(copy.c_str(), &end);
    if (copy.empty() || *end != '\0' || !std::isfinite(rate)) {
        error = "rate '" + copy + "' is not a number";
        return false;
    }
    if (rate <= uart::kMinimumRate || rate > kMaximumRate) {
        error = "rate " + copy +
                " is outside 35 to 115200 baud (at 35 baud or less the divisor "
                "is left alone)";
        return false;
    }
    return true;
}

}  // namespace

bool ParseApply(const std::string& text, ApplyRequest& request, std::string& error) {
    request.program = true;
    std::string_view rest(text);
    std::string_view rateText = rest, framingText;
    if (const auto comma = rest.find(','); comma != std::string_view::npos) {
        rateText = rest.substr(0, comma);
        framingText = rest.substr(comma + 1);
        if (framingText.empty()) {
            error = "nothing follows the comma in '" + text + "'";
            return false;
        }
    } else if (rest.size() >= 2 && std::isalpha(static_cast<unsigned char>(rest[1]))) {
        rateText = {};
        framingText = rest;
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

bool ParseSwitch(const std::string& text, std::optional<bool>& value) {
    if (text == "on") {
        value = true;
    } else if (text == "off") {
        value = false;
    } else {
        return false;
    }
    return true;
}

int RunScripted(const ApplyRequest& request, uart::PortIo& io, std::int32_t base, std::FILE* out,
                std::FILE* err) {
    using uart::LineSettings;
    LineSettings.portBase = base;
    if (request.framing)
        LineSettings.SetFraming(*request.framing);
    std::fprintf(out, "%s\n", io.Label(base).c_str());
    if (request.program) {
        const std::optional<uart::RateReport> report =
            uart::ProgramUart(base, request.rate.value_or(0.0));
        if (report) {
            std::fputs(uart::FormatC("rate: %.2f Bd asked, divisor %u gives %.2f Bd (%+.2f %%)\n",
                                     report->asked, report->divisor, report->produced,
                                     report->errorPercent)
                           .c_str(),
                       out);
        } else {
            std::fprintf(out, "rate: left as it was\n");
        }
        std::fprintf(out, "framing: %s\n", LineSettings.ToFraming().Description().c_str());
    }
    if (request.dtr) {
        uart::SetModemLine(uart::kMcrDtr, *request.dtr);
        std::fprintf(out, "DTR %s\n", *request.dtr ? "on" : "off");
    }
    if (request.rts) {
        uart::SetModemLine(uart::kMcrRts, *request.rts);
        std::fprintf(out, "RTS %s\n", *request.rts ? "on" : "off");
    }
    const std::string notice = io.TakeNotice();
    const bool failed = io.TakeFailure();
    if (!notice.empty())
        std::fprintf(failed ? err : out, "%s: %s\n", failed ? "quorlix" : "note", notice.c_str());
    return failed ? 1 : 0;
}

}  // namespace app
