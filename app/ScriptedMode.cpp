#include "app/ScriptedMode.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <string_view>

#include "uart/LineSettings.h"
#include "uart/Registers.h"

namespace app {
namespace {

constexpr double kMaximumRate = uart::kDivisorBase;

struct ParityLetter {
    char letter;
    std::int32_t bits;
    const char* name;
};
constexpr ParityLetter kParityLetters[] = {
    {'N', uart::kParityNone, "no parity"},     {'O', uart::kParityOdd, "odd parity"},
    {'E', uart::kParityEven, "even parity"},   {'M', uart::kParityMark, "mark parity"},
    {'S', uart::kParitySpace, "space parity"},
};

bool ParseFraming(std::string_view text, FramingCodes& framing, std::string& error) {
    error = "framing '" + std::string(text) + "' is not like 5N1.5, 8E1 or 7M2";
    if (text.size() < 3 || text[0] < '5' || text[0] > '8')
        return false;
    framing.wordLengthBits = text[0] - '5';
    const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(text[1])));
    const ParityLetter* parity = nullptr;
    for (const ParityLetter& candidate : kParityLetters) {
        if (candidate.letter == letter)
            parity = &candidate;
    }
    if (parity == nullptr)
        return false;
    framing.parityBits = parity->bits;
    const std::string_view stop = text.substr(2);
    if (stop == "1") {
        framing.stopBits = 0;
    } else if (stop == "1.5" || stop == "2") {
        framing.stopBits = uart::kLcrStop;  // the word length decides which of the two it gives
    } else {
        return false;
    }
    error.clear();
    return true;
}

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

const char* ParityName(std::int32_t bits) {
    for (const ParityLetter& parity : kParityLetters) {
        if (parity.bits == bits)
            return parity.name;
    }
    return "parity ?";
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
        FramingCodes framing{};
        if (!ParseFraming(framingText, framing, error))
            return false;
        request.framing = framing;
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
    if (request.framing) {
        LineSettings.wordLengthBits = request.framing->wordLengthBits;
        LineSettings.parityBits = request.framing->parityBits;
        LineSettings.stopBits = request.framing->stopBits;
    }
    std::fprintf(out, "%s\n", io.Label(base).c_str());
    if (request.program) {
        uart::ProgramUart(base, request.rate.value_or(0.0));
        if (request.rate) {
            const std::uint16_t divisor = uart::DivisorForRate(*request.rate);
            const double produced = uart::kDivisorBase / divisor;
            std::fprintf(out, "rate: %.2f Bd asked, divisor %u gives %.2f Bd (%+.2f %%)\n",
                         *request.rate, divisor, produced,
                         (produced - *request.rate) / *request.rate * 100.0);
        } else {
            std::fprintf(out, "rate: left as it was\n");
        }
        const int dataBits = 5 + LineSettings.wordLengthBits;
        const char* stop = LineSettings.stopBits == 0 ? "1 stop bit"
                           : dataBits == 5            ? "1.5 stop bits"
                                                      : "2 stop bits";
        std::fprintf(out, "framing: %d data bits, %s, %s\n", dataBits,
                     ParityName(LineSettings.parityBits), stop);
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
