// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/Options.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "uart/PortSelection.h"

namespace app {
namespace {

// Qt's documented options, and whether each is followed by a value. Qt reads each with one
// dash or two; only those it documents with '=' may carry their value that way.
struct ToolkitOption {
    std::string_view name;
    bool takesValue;
    bool valueAfterEquals;
};
// clang-format off
constexpr ToolkitOption kToolkitOptions[] = {
    {"platform", true, false},        {"platformpluginpath", true, false},
    {"platformtheme", true, false},   {"plugin", true, false},
    {"qwindowgeometry", true, false}, {"qwindowicon", true, false},
    {"qwindowtitle", true, false},    {"session", true, false},
    {"display", true, false},         {"geometry", true, false},
    {"style", true, true},            {"stylesheet", true, true},
    {"qmljsdebugger", false, true},   {"reverse", false, false},
    {"widgetcount", false, false},    {"nograb", false, false},
    {"dograb", false, false},         {"sync", false, false},
};
// clang-format on

// The option `argument` names, and whether it carries its value after '='.
const ToolkitOption* FindToolkitOption(std::string_view argument, bool& valueAttached) {
    if (argument.size() < 2 || argument[0] != '-')
        return nullptr;
    std::string_view name = argument.substr(argument.starts_with("--") ? 2 : 1);
    const auto equals = name.find('=');
    valueAttached = equals != std::string_view::npos;
    name = name.substr(0, equals);
    for (const ToolkitOption& option : kToolkitOptions) {
        if (option.name == name && (!valueAttached || option.valueAfterEquals))
            return &option;
    }
    return nullptr;
}

// A word that starts with '-' but is a number ("-1"): the port argument, which the scan reads
// as atoi does.
bool IsNegativeNumber(std::string_view argument) {
    return argument.size() >= 2 && argument[0] == '-' &&
           std::isdigit(static_cast<unsigned char>(argument[1])) != 0;
}

// Whether the option at `i` is followed by its value: a word that does not look like an option
// ("--device --apply 45.45" forgot the device, and must not open a file named "--apply").
bool HasValue(const std::vector<std::string>& arguments, std::size_t i) {
    return i + 1 < arguments.size() && !arguments[i + 1].starts_with("-");
}

// Where the bridge's option `argument` keeps its value; null for any other argument.
std::optional<std::string>* BridgeValue(Options& options, std::string_view argument) {
    const std::pair<std::string_view, std::optional<std::string>*> values[] = {
        {"--code", &options.code},
        {"--link", &options.link},
        {"--cr-fill", &options.crFill},
        {"--test", &options.test},
        {"--columns", &options.columns},
        {"--newline", &options.newline},
        {"--loop", &options.loop},
        {"--motor", &options.motor},
        {"--motor-start", &options.motorStart},
        {"--motor-idle", &options.motorIdle},
        {"--spool", &options.spool},
        {"--line", &options.line},
    };
    for (const auto& [name, value] : values) {
        if (name == argument)
            return value;
    }
    return nullptr;
}

// A word where the port digit goes that names a device (/dev/ttyS0, ttyUSB0, COM2): the digit
// scan would read it as no number, and so program the UART at 0x2F8 instead. The device it
// most likely means, or nothing for a word that names none.
std::optional<std::string> MeantDevice(const std::string& argument) {
    if (argument.find('/') != std::string::npos)
        return argument;
    if (argument.starts_with("tty"))
        return "/dev/" + argument;
    if (argument.starts_with("COM")) {  // DOS counts its ports from 1, Linux from 0
        const int number = std::atoi(argument.c_str() + 3);
        return "/dev/ttyS" + std::to_string(number > 1 ? number - 1 : 0);
    }
    return std::nullopt;
}

}  // namespace

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

Options ReadOptionWords(const std::vector<std::string>& arguments) {
    Options options;
    bool valueAttached = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "--simulate") {
            options.simulate = true;
        } else if (argument == "--trace") {
            options.trace = true;
        } else if (argument == "--help" || argument == "-h") {
            options.help = true;
        } else if (argument == "--version") {
            options.version = true;
        } else if (argument == "--hold") {
            options.hold = true;
        } else if (argument == "--apply") {
            // Without its line, the machine's (--machine): weighed in CheckCombination.
            options.apply = HasValue(arguments, i) ? arguments[++i] : std::string();
        } else if (argument == "--screenshot" || argument == "--device" || argument == "--dtr" ||
                   argument == "--rts" || argument == "--machine") {
            if (!HasValue(arguments, i)) {
                options.error = argument + " needs a value";
                break;
            }
            const std::string& value = arguments[++i];
            if (argument == "--screenshot")
                options.screenshot = value;
            if (argument == "--device")
                options.device = value;
            if (argument == "--machine")
                options.machine = value;
            if ((argument == "--dtr" && !ParseSwitch(value, options.dtr)) ||
                (argument == "--rts" && !ParseSwitch(value, options.rts))) {
                options.error = argument + " takes on or off, not " + value;
                break;
            }
        } else if (argument == "--bridge") {
            // The line is optional: a word that is not an option is the bridge's.
            options.bridge.emplace();
            if (i + 1 < arguments.size() && !arguments[i + 1].starts_with("-"))
                options.bridge = arguments[++i];
        } else if (argument == "--no-usos") {
            options.noUsos = true;
        } else if (argument == "--wait") {
            options.wait = true;
        } else if (argument == "--print") {
            // "-" is standard input, not an option.
            if (!HasValue(arguments, i) && !(i + 1 < arguments.size() && arguments[i + 1] == "-")) {
                options.error = "--print needs a file, or - for standard input";
                break;
            }
            options.print = arguments[++i];
        } else if (std::optional<std::string>* bridgeValue = BridgeValue(options, argument)) {
            if (!HasValue(arguments, i)) {
                options.error = argument + " needs a value";
                break;
            }
            *bridgeValue = arguments[++i];
        } else if (const ToolkitOption* toolkit = FindToolkitOption(argument, valueAttached)) {
            options.toolkit.push_back(argument);
            if (toolkit->takesValue && !valueAttached) {
                // A value that looks like an option would be read as one by Qt.
                if (!HasValue(arguments, i)) {
                    options.error = argument + " needs a value";
                    break;
                }
                options.toolkit.push_back(arguments[++i]);
            }
        } else if (argument.starts_with("-") && !IsNegativeNumber(argument)) {
            options.error = "unknown option " + argument;
            break;
        } else {
            // The port digit, or anything else: the scan decides what it means.
            options.arguments.push_back(argument);
        }
    }
    return options;
}

void CheckCombination(Options& options) {
    for (const std::string& argument : options.arguments) {
        if (const std::optional<std::string> device = MeantDevice(argument)) {
            options.error = argument + " names a device, not a port digit: did you mean --device " +
                            *device + "?";
            return;
        }
    }
    if (options.apply && options.apply->empty() && !options.machine) {
        options.error = "--apply needs a value";
    } else if (options.device && options.device->empty()) {
        options.error = "--device needs the path of a serial device, not an empty word";
    } else if (options.simulate && options.device) {
        options.error = "--simulate and --device exclude each other";
    }
    if (options.error.empty() && options.machine && !IsTeleprinterRun(options) && !options.hold &&
        !IsScripted(options)) {
        options.error =
            "--machine NAME goes with --bridge, --print, --apply, --dtr, --rts or --hold";
    }
    if (options.error.empty() && options.print && options.print->empty())
        options.error = "--print needs a file, or - for standard input";
    if (options.error.empty() && options.bridge && options.print)
        options.error = "--bridge and --print exclude each other: one of them has the port";
    if (options.error.empty() && IsTeleprinterRun(options) && options.hold) {
        options.error = std::string(options.bridge ? "--bridge" : "--print") +
                        " keeps its port to itself: --hold goes with --apply, --dtr, --rts or the "
                        "panel";
    }
    if (options.error.empty() && !IsTeleprinterRun(options) &&
        (options.code || options.crFill || options.noUsos || options.columns || options.newline ||
         options.loop || options.motor || options.motorStart || options.motorIdle)) {
        options.error =
            "--code, --cr-fill, --no-usos, --columns, --newline, --loop and --motor... go with "
            "--bridge or --print";
    }
    // Each on its own, so that a machine's profile may carry it for its bridge.
    const std::pair<const char*, bool> bridgeOnly[] = {
        {"--link", options.link.has_value()},
        {"--test", options.test.has_value()},
        {"--spool", options.spool.has_value()},
    };
    for (const auto& [name, given] : bridgeOnly) {
        if (options.error.empty() && given && !options.bridge)
            options.error = std::string(name) + " goes with --bridge";
    }
    if (options.error.empty() && options.line && !options.print) {
        options.error =
            "--line goes with --print (the bridge takes its line as --bridge RATE[,FRAMING], "
            "the scripted mode as --apply)";
    }
    if (options.error.empty() && options.wait && !options.print)
        options.error = "--wait goes with --print";
    if (options.error.empty() && options.spool && options.test)
        options.error = "--spool and --test exclude each other: the test pattern never ends";
}

Options ParseOptions(const std::vector<std::string>& arguments) {
    Options options = ReadOptionWords(arguments);
    if (options.error.empty())
        CheckCombination(options);
    return options;
}

std::vector<std::string> RemoveCodeLoadingOptions(Options& options) {
    std::vector<std::string> removed;
    std::vector<std::string> kept;
    bool valueAttached = false;
    for (std::size_t i = 0; i < options.toolkit.size(); ++i) {
        const std::string& argument = options.toolkit[i];
        const ToolkitOption* option = FindToolkitOption(argument, valueAttached);
        const bool valueFollows = option != nullptr && option->takesValue && !valueAttached;
        if (option != nullptr && option->name == "platformpluginpath") {
            removed.push_back(argument);
            i += valueFollows ? 1 : 0;
            continue;
        }
        kept.push_back(argument);
        if (valueFollows && i + 1 < options.toolkit.size())
            kept.push_back(options.toolkit[++i]);
    }
    options.toolkit = std::move(kept);
    return removed;
}

std::string FormCommandLine(const Options& options) {
    std::string line = "quorlix";
    for (const std::string& argument : options.arguments) {
        line += ' ';
        line += argument;
    }
    return line;
}

namespace {

// The port table's lines: "  DIGIT             the port: 1 = 0x3F8   2 = 0x2F8 ...", four a
// line.
std::string PortTableLines() {
    std::string text;
    for (std::size_t i = 0; i < uart::kPortTable.size(); ++i) {
        const uart::PortChoice& choice = uart::kPortTable[i];
        if (i % 4 == 0)
            text += i == 0 ? "  DIGIT             the port: " : "\n                              ";
        char entry[24];
        std::snprintf(entry, sizeof entry, "%s%d = 0x%03X", i % 4 == 0 ? "" : "   ", choice.digit,
                      static_cast<unsigned>(choice.base));
        text += entry;
    }
    return text + "\n";
}

}  // namespace

std::string UsageText() {
    return "Usage: quorlix [--simulate | --device PATH] [--trace] [DIGIT]\n"
           "       quorlix --apply RATE[,FRAMING] [--dtr on|off] [--rts on|off] [--hold]\n"
           "               [--simulate | --device PATH] [--trace] [DIGIT]\n"
           "       quorlix --bridge [RATE[,FRAMING]] --device PATH [--code ita2|ustty]\n"
           "               [--link PATH] [--cr-fill N] [--no-usos] [--test ryry|fox]\n"
           "               [--columns N] [--newline crlf|raw] [--loop half|full]\n"
           "               [--motor dtr|rts [--motor-start S] [--motor-idle S]]\n"
           "               [--dtr on|off] [--rts on|off] [--spool DIR]\n"
           "       quorlix --print FILE|- --device PATH [--line RATE[,FRAMING]] [--wait]\n"
           "               [the bridge's --code ... --motor-idle, --dtr, --rts]\n"
           "       quorlix --machine NAME --bridge|--print|--apply|--hold [options]\n"
           "\n"
           "Sets the bit rate, word length, parity, stop bits, DTR and RTS of an 8250/16550\n"
           "serial port by writing its registers, while your terminal program uses it.\n"
           "Nothing is written until you use the panel; nothing is restored when it closes.\n"
           "\n" +
           PortTableLines() +
           "                    read as C's atoi reads the first argument that is not an\n"
           "                    option (3a and +3 are 3); any other number, or none, means\n"
           "                    0x2F8\n"
           "  --simulate        program a simulated 16550 instead of the real port\n"
           "  --device PATH     reach the port through its serial driver (/dev/ttyS1,\n"
           "                    /dev/serial0, /dev/ttyAMA0, /dev/ttyUSB0 ...): no I/O port\n"
           "                    permission needed\n"
           "  --trace           print every register access to standard error\n"
           "                    (out 0x2FB 0x80, in 0x2FC 0x08)\n"
           "  --apply RATE[,FRAMING]  set the port without the panel and exit; FRAMING is\n"
           "                    data bits, parity N/O/E/M/S and stop bits: 5N1.5, 8E1, 7M2\n"
           "  --dtr on|off, --rts on|off  raise or drop a modem line without the panel\n"
           "  --hold            keep what was set: look at the port every 100 ms and set it\n"
           "                    again whenever the terminal program's driver changed it,\n"
           "                    until Ctrl+C, SIGTERM or SIGHUP (not when ignored, as under\n"
           "                    nohup); with the panel, tick its Hold box\n"
           "  --bridge [RATE[,FRAMING]]  set the port (45.45,5N1.5 if not given) and run a\n"
           "                    Baudot bridge: a terminal program types ASCII into a\n"
           "                    pseudo-terminal, the teleprinter gets five-bit codes, its\n"
           "                    keyboard's codes come back as ASCII; Ctrl+C ends it and\n"
           "                    drops what the port has not sent yet\n"
           "  --code ita2|ustty the bridge's code set (ita2 if not given)\n"
           "  --link PATH       make PATH a symbolic link to the pseudo-terminal\n"
           "  --cr-fill N       fill characters after a carriage return (2 if not given)\n"
           "  --no-usos         a received space keeps figures (no unshift on space)\n"
           "  --test ryry|fox   send RYRY... or THE QUICK BROWN FOX... lines until stopped\n"
           "  --columns N       the carriage's width (69 if not given, 0: none): a line that\n"
           "                    would pass it ends at its last space within the last 10\n"
           "                    columns, else at N\n"
           "  --newline crlf|raw  crlf (if not given): LF, CR, CR LF and LF CR each\n"
           "                    print one line end, CR, fill, LF; raw: as typed\n"
           "  --loop half|full  full (if not given): separate send and receive loops;\n"
           "                    half: keyboard and printer in series on one loop, so what\n"
           "                    the bridge sends comes back and is dropped: the terminal\n"
           "                    program gets only what the keyboard typed\n"
           "  --motor dtr|rts   the modem line that switches the machine's motor: up before\n"
           "                    sending, down after --motor-idle S quiet seconds (30) and at\n"
           "                    the end; sending waits --motor-start S seconds (1.0)\n"
           "  --spool DIR       print each file that appears in DIR whole, in name order,\n"
           "                    then remove it; typing waits while a job prints (names\n"
           "                    starting with . are left alone, links are not followed)\n"
           "  --print FILE|-    set the port as --bridge does, print FILE (- : standard\n"
           "                    input) and exit once its last code has left the UART:\n"
           "                    0 printed, 1 a BREAK at the machine stopped it or the port\n"
           "                    went away, 130 after Ctrl+C (which drops what waits)\n"
           "  --line RATE[,FRAMING]  --print's line (45.45,5N1.5 if not given)\n"
           "  --wait            --print waits while a hold or bridge has the port, instead\n"
           "                    of refusing\n"
           "  --machine NAME    what the command line leaves out, from the machine's profile\n"
           "                    ~/.config/quorlix/NAME.conf, else /etc/quorlix/NAME.conf: one\n"
           "                    option = value a line (device = /dev/ttyS0, line = 45.45,5N1.5,\n"
           "                    code = ustty, columns = 72, usos = no ...); --print, --apply\n"
           "                    and --hold without a line take its line\n"
           "  --screenshot FILE save a picture of the panel to FILE and close it\n"
           "  --help            show this text\n"
           "  --version         show the version\n"
           "\n"
           "Examples:\n"
           "  quorlix --simulate                      try the panel without hardware\n"
           "  quorlix 1                               the panel on the port at 0x3F8\n"
           "  quorlix --apply 45.45,5N1.5 --dtr on 2  a Baudot line at 0x2F8\n"
           "  quorlix --device /dev/ttyS0 --apply 45.45,5N1.5 --hold\n"
           "                                          ...kept through reconnects\n"
           "  quorlix --device /dev/ttyUSB0           the panel on a USB adapter\n"
           "  quorlix --bridge --device /dev/ttyS0 --link ~/tty-baudot\n"
           "                                          a teleprinter for any terminal program\n"
           "  quorlix --print news.txt --device /dev/ttyS0 --wait && rm news.txt\n"
           "                                          printed, and known to be\n"
           "\n"
           "I/O ports need the CAP_SYS_RAWIO capability (sudo setcap cap_sys_rawio+ep\n"
           "$(command -v quorlix)) or root; either is used only to open the UART's eight\n"
           "addresses and given up right after. Through sudo, root goes back to you before\n"
           "any window opens, and --device opens only a device you may open yourself.\n"
           "A serial device needs membership of its group (dialout).\n";
}

}  // namespace app
