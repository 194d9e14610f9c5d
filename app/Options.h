// SPDX-License-Identifier: GPL-3.0-or-later
// The program's command line: its own options, the toolkit's, and the arguments that form the
// line the port digit is scanned from.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace app {

struct Options {
    bool simulate = false;
    bool trace = false;
    bool help = false;
    bool version = false;
    std::string screenshot;                 // save a picture of the panel there, then close it
    std::optional<std::string> device;      // reach the UART through this serial device's driver
    std::optional<std::string> apply;       // scripted mode: RATE[,FRAMING]
    std::optional<bool> dtr;                // the scripted mode's or the bridge's --dtr on|off
    std::optional<bool> rts;                // the scripted mode's or the bridge's --rts on|off
    bool hold = false;                      // keep what is set against the terminal's driver
    std::optional<std::string> bridge;      // --bridge [RATE[,FRAMING]]: empty for the default line
    std::optional<std::string> code;        // the bridge's --code ita2|ustty
    std::optional<std::string> link;        // the bridge's --link PATH
    std::optional<std::string> crFill;      // the bridge's --cr-fill N
    std::optional<std::string> test;        // the bridge's --test ryry|fox
    std::optional<std::string> columns;     // the bridge's --columns N
    std::optional<std::string> newline;     // the bridge's --newline crlf|raw
    std::optional<std::string> loop;        // the bridge's --loop half|full
    std::optional<std::string> motor;       // the bridge's --motor dtr|rts
    std::optional<std::string> motorStart;  // the bridge's --motor-start S
    std::optional<std::string> motorIdle;   // the bridge's --motor-idle S
    bool noUsos = false;                    // the bridge's --no-usos
    std::optional<std::string> spool;       // the bridge's --spool DIR
    std::optional<std::string> print;       // --print FILE|-: print it and exit
    std::optional<std::string> line;        // --print's --line RATE[,FRAMING]
    bool wait = false;                      // --print --wait: wait for the line's holder
    std::optional<std::string> machine;     // --machine NAME: the rest from NAME's profile
    std::vector<std::string> arguments;     // what is left, in order: the port digit and the rest
    std::vector<std::string> toolkit;       // the toolkit's own options, handed on to it
    std::string error;                      // set when the command line makes no sense
};

// "on" or "off", as --dtr and --rts take them.
bool ParseSwitch(const std::string& text, std::optional<bool>& value);

// Reads the arguments that follow the program name.
Options ParseOptions(const std::vector<std::string>& arguments);

// ParseOptions in two steps: each argument read on its own, then the options weighed against
// each other (the second sets `options.error` where they exclude or need each other). A
// profile's settings are read with the first, and left out where the second refuses them.
Options ReadOptionWords(const std::vector<std::string>& arguments);
void CheckCombination(Options& options);

// The line the port digit is scanned from: a fixed program name, so that a path with blanks
// cannot hide the digit, followed by the arguments that are left.
std::string FormCommandLine(const Options& options);

std::string UsageText();

// Takes out of `options.toolkit` the options that make Qt load code from a folder the user
// names (-platformpluginpath). Returns the names of those it took out.
std::vector<std::string> RemoveCodeLoadingOptions(Options& options);

// Whether the options ask for the scripted mode rather than the panel.
inline bool IsScripted(const Options& options) {
    return options.apply.has_value() || options.dtr.has_value() || options.rts.has_value();
}

// Whether the options ask for the bridge's encoder on a port: the bridge, or a print job.
inline bool IsTeleprinterRun(const Options& options) {
    return options.bridge.has_value() || options.print.has_value();
}

}  // namespace app
