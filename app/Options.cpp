#include "app/Options.h"

#include <string_view>

namespace app {
namespace {

// Options that Qt takes for itself, and whether each is followed by a value.
struct ToolkitOption {
    std::string_view name;
    bool takesValue;
};
constexpr ToolkitOption kToolkitOptions[] = {
    {"platform", true},   {"platformpluginpath", true}, {"platformtheme", true},
    {"plugin", true},     {"qwindowgeometry", true},    {"qwindowicon", true},
    {"qwindowtitle", true}, {"session", true},          {"display", true},
    {"geometry", true},   {"style", true},              {"stylesheet", true},
    {"qmljsdebugger", false}, {"reverse", false},       {"widgetcount", false},
    {"nograb", false},    {"dograb", false},            {"sync", false},
};

const ToolkitOption* FindToolkitOption(std::string_view argument) {
    if (argument.size() < 2 || argument[0] != '-') return nullptr;
    std::string_view name = argument.substr(argument.starts_with("--") ? 2 : 1);
    name = name.substr(0, name.find('='));
    for (const ToolkitOption& option : kToolkitOptions) {
        if (option.name == name) return &option;
    }
    return nullptr;
}

}  // namespace

Options ParseOptions(const std::vector<std::string>& arguments) {
    Options options;
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
        } else if (argument == "--screenshot") {
            if (i + 1 == arguments.size()) {
                options.error = "--screenshot needs a file name";
                break;
            }
            options.screenshot = arguments[++i];
        } else if (const ToolkitOption* toolkit = FindToolkitOption(argument)) {
            options.toolkit.push_back(argument);
            const bool valueFollows = toolkit->takesValue && argument.find('=') == std::string::npos;
            if (valueFollows && i + 1 < arguments.size()) options.toolkit.push_back(arguments[++i]);
        } else if (argument.starts_with("--")) {
            options.error = "unknown option " + argument;
            break;
        } else {
            // The port digit, or anything else: the scan decides what it means.
            options.arguments.push_back(argument);
        }
    }
    return options;
}

std::string FormCommandLine(const Options& options) {
    std::string line = "quorlix";
    for (const std::string& argument : options.arguments) {
        line += ' ';
        line += argument;
    }
    return line;
}

std::string UsageText() {
    return "Usage: quorlix [--simulate] [--trace] [DIGIT]\n"
           "Sets the bit rate, word length, parity, stop bits, DTR and RTS of an 8250/16550\n"
           "serial port by writing its registers, while your terminal program keeps using it.\n"
           "Nothing is written until you use the panel; nothing is restored when it closes.\n"
           "\n"
           "  DIGIT         the port: 1 = 0x3F8   2 = 0x2F8   3 = 0x3E8   4 = 0x3E0\n"
           "                          5 = 0x2F0   6 = 0x2E8   7 = 0x2E0   8 = 0x260\n"
           "                anything else, or none, means 0x2F8\n"
           "  --simulate    program a simulated 16550 instead of the real port\n"
           "  --trace       print every register access to standard error\n"
           "                (out 0x2FB 0x80, in 0x2FC 0x08)\n"
           "  --screenshot FILE  save a picture of the panel to FILE and close it\n"
           "  --help        show this text\n"
           "  --version     show the version\n"
           "\n"
           "The real port needs the CAP_SYS_RAWIO capability (sudo setcap cap_sys_rawio+ep\n"
           "$(command -v quorlix)) or root; started through sudo, the program gives root back\n"
           "before the panel opens.\n";
}

}  // namespace app
