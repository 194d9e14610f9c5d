// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/BridgeOptions.h"

#include <optional>
#include <string_view>
#include <vector>

#include "os/CLocale.h"
#include "os/Listed.h"
#include "uart/Registers.h"

namespace app {
namespace {

// A whole number from `lowest` to `highest` (or 0, where `zero` allows it).
bool ReadCount(const std::string& text, int lowest, int highest, bool zero, int& count) {
    if (text.empty() || text.size() > std::to_string(highest).size() ||
        text.find_first_not_of("0123456789") != text.npos)
        return false;
    count = std::stoi(text);
    return (count >= lowest || (zero && count == 0)) && count <= highest;
}

// Seconds as a plain decimal number from `lowest` to `highest`.
bool ReadSeconds(const std::string& text, double lowest, double highest, double& seconds) {
    const std::optional<double> read = text.size() > 8 ? std::nullopt : os::ReadDecimal(text);
    if (!read)
        return false;
    seconds = *read;
    return seconds >= lowest && seconds <= highest;
}

// "a, b or c": the names a table offers.
template <typename Table, typename Name>
std::string Choices(const Table& table, Name name) {
    std::vector<std::string> names;
    for (const auto& row : table)
        names.emplace_back(name(row));
    return os::Listed(names, "or");
}

}  // namespace

bool ReadBridgeSettings(const Options& options, bridge::Settings& settings, std::string& error) {
    const std::string mode = options.print ? "--print" : "--bridge";
    if (options.simulate || options.apply) {
        error = mode + " drives a real port: it excludes --simulate and --apply";
        return false;
    }
    if (!options.device) {
        error = mode +
                " needs the teleprinter's serial port: --device PATH (/dev/ttyS0, "
                "/dev/serial0, /dev/ttyUSB0 ...)";
        return false;
    }
    settings.device = *options.device;
    settings.print = options.print.value_or("");
    settings.wait = options.wait;
    settings.spool = options.spool.value_or("");
    if (options.spool && options.spool->empty()) {
        error = "--spool needs a folder";
        return false;
    }
    const std::string line =
        options.print ? options.line.value_or("") : options.bridge.value_or("");
    if (!line::ParseApply(line.empty() ? bridge::kDefaultLine : line, settings.line, error))
        return false;
    line::ApplyRequest defaults;
    line::ParseApply(bridge::kDefaultLine, defaults, error);
    error.clear();
    if (!settings.line.rate)
        settings.line.rate = defaults.rate;
    if (!settings.line.framing)
        settings.line.framing = defaults.framing;
    settings.line.dtr = options.dtr;
    settings.line.rts = options.rts;
    settings.line.portStaysOpen = true;  // the bridge holds it while it runs
    if (options.code && (settings.codeSet = bridge::FindCodeSet(*options.code)) == nullptr) {
        error = "--code takes " +
                Choices(bridge::kCodeSets, [](const bridge::CodeSet* set) { return set->name; }) +
                ", not " + *options.code;
        return false;
    }
    if (options.crFill &&
        !ReadCount(*options.crFill, 0, bridge::kMaximumCrFill, true, settings.crFill)) {
        error = "--cr-fill takes a count of fill characters from 0 to " +
                std::to_string(bridge::kMaximumCrFill) + ", not " + *options.crFill;
        return false;
    }
    if (options.test && (settings.pattern = bridge::FindTestPattern(*options.test)) == nullptr) {
        error = "--test takes " +
                Choices(bridge::kTestPatterns,
                        [](const bridge::TestPattern& pattern) { return pattern.name; }) +
                ", not " + *options.test;
        return false;
    }
    if (options.link && options.link->empty()) {
        error = "--link needs a path";
        return false;
    }
    if (options.columns && !ReadCount(*options.columns, bridge::kMinimumColumns,
                                      bridge::kMaximumColumns, true, settings.columns)) {
        error = "--columns takes a carriage width from " + std::to_string(bridge::kMinimumColumns) +
                " to " + std::to_string(bridge::kMaximumColumns) + ", or 0 for none, not " +
                *options.columns;
        return false;
    }
    if (options.newline) {
        if (*options.newline != "crlf" && *options.newline != "raw") {
            error = "--newline takes crlf or raw, not " + *options.newline;
            return false;
        }
        settings.newline = *options.newline == "raw" ? bridge::Newline::Raw : bridge::Newline::CrLf;
    }
    if (options.loop) {
        if (*options.loop != "half" && *options.loop != "full") {
            error = "--loop takes half or full, not " + *options.loop;
            return false;
        }
        settings.halfDuplex = *options.loop == "half";
    }
    if (options.motor) {
        const bool dtr = *options.motor == "dtr";
        if (!dtr && *options.motor != "rts") {
            error = "--motor takes dtr or rts, not " + *options.motor;
            return false;
        }
        if ((dtr && options.dtr) || (!dtr && options.rts)) {
            error =
                "--motor " + *options.motor + " and --" + *options.motor + " name the same line";
            return false;
        }
        settings.motor = dtr ? uart::kMcrDtr : uart::kMcrRts;
    } else if (options.motorStart || options.motorIdle) {
        error = "--motor-start and --motor-idle go with --motor dtr|rts";
        return false;
    }
    if (options.motorStart &&
        !ReadSeconds(*options.motorStart, 0, bridge::kMaximumMotorStart, settings.motorStart)) {
        error = os::FormatC("--motor-start takes seconds from 0 to %g, not ",
                            bridge::kMaximumMotorStart) +
                *options.motorStart;
        return false;
    }
    if (options.motorIdle && !ReadSeconds(*options.motorIdle, bridge::kMinimumMotorIdle,
                                          bridge::kMaximumMotorIdle, settings.motorIdle)) {
        error = os::FormatC("--motor-idle takes seconds from %g to %g, not ",
                            bridge::kMinimumMotorIdle, bridge::kMaximumMotorIdle) +
                *options.motorIdle;
        return false;
    }
    settings.link = options.link.value_or("");
    settings.unshiftOnSpace = !options.noUsos;
    settings.trace = options.trace;
    return true;
}

}  // namespace app
