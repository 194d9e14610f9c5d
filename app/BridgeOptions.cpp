// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/BridgeOptions.h"

#include <string_view>

namespace app {
namespace {

bool ReadCrFill(const std::string& text, int& fill) {
    if (text.empty() || text.size() > std::to_string(bridge::kMaximumCrFill).size() ||
        text.find_first_not_of("0123456789") != text.npos)
        return false;
    fill = std::stoi(text);
    return fill <= bridge::kMaximumCrFill;
}

// "a or b": the names a table offers.
template <typename Table, typename Name>
std::string Choices(const Table& table, Name name) {
    std::string text;
    for (const auto& row : table)
        text += (text.empty() ? "" : " or ") + std::string(name(row));
    return text;
}

}  // namespace

bool ReadBridgeSettings(const Options& options, bridge::Settings& settings, std::string& error) {
    if (options.simulate || options.apply) {
        error = "--bridge drives a real port: it excludes --simulate and --apply";
        return false;
    }
    if (!options.device) {
        error =
            "--bridge needs the teleprinter's serial port: --device PATH (/dev/ttyS0, "
            "/dev/ttyUSB0 ...)";
        return false;
    }
    settings.device = *options.device;
    const std::string line = options.bridge.value_or("");
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
    if (options.crFill && !ReadCrFill(*options.crFill, settings.crFill)) {
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
    settings.link = options.link.value_or("");
    settings.unshiftOnSpace = !options.noUsos;
    settings.trace = options.trace;
    return true;
}

}  // namespace app
