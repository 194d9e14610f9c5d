// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/Profile.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "app/Privileges.h"
#include "line/LineRequest.h"
#include "os/ReadAll.h"

namespace app {
namespace {

// A profile is a page of settings; anything longer is not one.
constexpr std::size_t kMostBytes = 64 * 1024;

// Read failures of our own, beside the errno values.
constexpr int kNotAFile = -1;
constexpr int kKeptPrivilege = -2;
constexpr int kReaderFailed = -3;

// What the run does is the command line's to say, never a machine's.
constexpr std::string_view kNotSettings[] = {
    "machine",  "bridge", "apply",      "hold", "print",   "wait",
    "simulate", "test",   "screenshot", "help", "version",
};

// The machine's line, RATE[,FRAMING]: the bridge's, and --apply's or --hold's where the command
// line gives none.
constexpr std::string_view kLineKey = "line";

std::string_view Trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// `line` without its comment: a '#' at its start or after a blank starts one.
std::string_view WithoutComment(std::string_view line) {
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '#' && (i == 0 || line[i - 1] == ' ' || line[i - 1] == '\t'))
            return line.substr(0, i);
    }
    return line;
}

// Whether the command line's parser takes --NAME alone, as a switch.
bool IsSwitch(const std::string& name) {
    const Options alone = ReadOptionWords({"--" + name});
    return alone.error.empty() && alone.toolkit.empty();
}

// The command line's words for `key = value`: "--key value", or for a switch its word or none
// (usos = no is --no-usos; trace = yes is --trace).
bool ToWords(const std::string& key, const std::string& value, std::vector<std::string>& words,
             std::string& error) {
    const bool negated = IsSwitch("no-" + key);
    if (!negated && !IsSwitch(key)) {
        words = {"--" + key, value};
        return true;
    }
    const bool yes = value == "yes" || value == "on";
    if (!yes && value != "no" && value != "off") {
        error = key + " takes yes or no, not " + value;
        return false;
    }
    words.clear();
    if (yes != negated)
        words.push_back((negated ? "--no-" : "--") + key);
    return true;
}

// Reads one `key = value` into `setting`; false with `error` set (without the file and line).
bool ReadSetting(std::string key, std::string value, ProfileSetting& setting, std::string& error) {
    if (std::ranges::find(kNotSettings, key) != std::end(kNotSettings)) {
        error = key + " is not a machine's setting: give --" + key + " on the command line";
        return false;
    }
    setting.key = key;
    if (key == kLineKey) {
        line::ApplyRequest request;
        setting.words = {value};
        return line::ParseApply(value, request, error);
    }
    if (!ToWords(key, value, setting.words, error))
        return false;
    const Options read = ReadOptionWords(setting.words);
    if (read.error.starts_with("unknown option")) {
        error = "unknown option " + key;
    } else if (!read.error.empty()) {
        error = read.error;
    } else if (!read.toolkit.empty() || !read.arguments.empty()) {
        error = key + " is not a machine's setting";  // Qt's options stay on the command line
    }
    return error.empty();
}

// The home folder: a privileged start's from the password database, as it is the invoking
// user's (sudo's SUDO_UID is trusted only where the real user is root).
std::string Home(bool privileged) {
    if (const char* home = std::getenv("HOME"); !privileged && home != nullptr && *home == '/')
        return home;
    const std::optional<InvokingUser> user = privileged ? SudoUser() : std::nullopt;
    const passwd* entry = getpwuid(user ? user->uid : getuid());
    return entry != nullptr && entry->pw_dir != nullptr ? entry->pw_dir : "";
}

// The user's own profiles, by the XDG base directory rules.
std::string UserFolder(bool privileged, const std::string& home) {
    if (const char* config = std::getenv("XDG_CONFIG_HOME");
        !privileged && config != nullptr && *config == '/')
        return std::string(config) + "/quorlix";
    return home.empty() ? "" : home + "/.config/quorlix";
}

// Reads the regular file at `path` into `text`. Returns 0, an errno value or one of our own.
int ReadSmallFile(const std::string& path, std::string& text) {
    // Not blocking: a FIFO there must not hold the start up.
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return errno;
    struct stat status {};
    int why = 0;
    if (fstat(fd, &status) != 0) {
        why = errno;
    } else if (S_ISDIR(status.st_mode)) {
        why = EISDIR;
    } else if (!S_ISREG(status.st_mode)) {
        why = kNotAFile;
    } else {
        why = os::ReadAll(fd, kMostBytes, text);
    }
    close(fd);
    return why;
}

// ReadSmallFile in a child that has given up every privilege first: the file is read with the
// invoking user's rights, and the privileged parent opens nothing the user names.
int ReadAsInvokingUser(const std::string& path, std::string& text) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0)
        return errno;
    const pid_t child = fork();
    if (child < 0) {
        const int why = errno;
        close(ends[0]);
        close(ends[1]);
        return why;
    }
    if (child == 0) {
        close(ends[0]);
        std::string read;
        const int why = LeavePrivilege().empty() ? ReadSmallFile(path, read) : kKeptPrivilege;
        const std::string reply = std::to_string(why) + '\n' + read;
        for (std::size_t sent = 0; sent < reply.size();) {
            const ssize_t wrote = write(ends[1], reply.data() + sent, reply.size() - sent);
            if (wrote < 0 && errno != EINTR)
                _exit(1);
            sent += static_cast<std::size_t>(std::max<ssize_t>(wrote, 0));
        }
        _exit(0);
    }
    close(ends[1]);
    std::string reply;
    char buffer[4096];
    ssize_t got = 0;
    while ((got = read(ends[0], buffer, sizeof buffer)) != 0) {
        if (got < 0 && errno != EINTR)
            break;
        reply.append(buffer, static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
    }
    close(ends[0]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    const auto newline = reply.find('\n');
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || newline == std::string::npos)
        return kReaderFailed;
    text = reply.substr(newline + 1);
    return std::atoi(reply.c_str());
}

std::string ReadFailure(int why) {
    switch (why) {
        case kNotAFile:
            return "it is not a file";
        case kKeptPrivilege:
            return "the privilege to be given up before reading it could not be";
        case kReaderFailed:
            return "the process that reads it as you failed";
        case EFBIG:
            return "it is longer than a profile can be (64 KiB)";
        default:
            return std::strerror(why);
    }
}

// Whether `error` is about the option `key` (it starts with "--key" as a whole word).
bool NamesOption(const std::string& error, const std::string& key) {
    for (const std::string& name : {"--" + key, "--no-" + key}) {
        if (error.starts_with(name) &&
            (error.size() == name.size() || std::strchr(" ,:", error[name.size()]) != nullptr))
            return true;
    }
    return false;
}

// The machine's line where the run takes one and the command line gave none.
void UseLine(Options& options, const std::string& line) {
    if (options.bridge && options.bridge->empty()) {
        options.bridge = line;
    } else if (options.print && !options.line) {
        options.line = line;
    } else if ((options.apply && options.apply->empty()) || (options.hold && !options.apply)) {
        options.apply = line;
    }
}

// The command line with `settings` put before it, parsed.
Options Merged(const std::vector<std::string>& commandLine,
               const std::vector<const ProfileSetting*>& settings) {
    std::vector<std::string> words;
    const ProfileSetting* line = nullptr;
    for (const ProfileSetting* setting : settings) {
        if (setting->key == kLineKey)
            line = setting;
        else
            words.insert(words.end(), setting->words.begin(), setting->words.end());
    }
    words.insert(words.end(), commandLine.begin(), commandLine.end());
    Options options = ParseOptions(words);
    if (line != nullptr && options.error.empty())
        UseLine(options, line->words.front());
    return options;
}

// Whether the command line names what `setting` sets.
bool Overridden(const ProfileSetting& setting, const std::vector<std::string>& commandLine,
                const Options& given) {
    if (setting.key == kLineKey)
        return (given.bridge && !given.bridge->empty()) || (given.apply && !given.apply->empty()) ||
               given.line.has_value();
    return std::ranges::any_of(commandLine, [&](const std::string& word) {
        return word == "--" + setting.key || word == "--no-" + setting.key;
    });
}

}  // namespace

bool ParseProfile(const std::string& text, const std::string& home, Profile& profile,
                  std::string& error) {
    profile.settings.clear();
    error.clear();
    const std::string_view all = text;
    int number = 0;
    for (std::size_t start = 0; start < all.size();) {
        const std::size_t end = std::min(all.find('\n', start), all.size());
        const std::string_view line = Trimmed(WithoutComment(all.substr(start, end - start)));
        start = end + 1;
        ++number;
        if (line.empty())
            continue;
        const auto equals = line.find('=');
        const std::string key(Trimmed(line.substr(0, std::min(equals, line.size()))));
        std::string value(equals == line.npos ? "" : Trimmed(line.substr(equals + 1)));
        if (value.starts_with("~/") && !home.empty())
            value = home + value.substr(1);
        const auto earlier = std::ranges::find(profile.settings, key, &ProfileSetting::key);
        ProfileSetting setting{number, {}, {}};
        if (equals == line.npos || key.empty()) {
            error = "not option = value: " + std::string(line);
        } else if (value.empty()) {
            error = key + " needs a value";
        } else if (earlier != profile.settings.end()) {
            error = key + " was set on line " + std::to_string(earlier->line) + " already";
        } else {
            ReadSetting(key, value, setting, error);
        }
        if (!error.empty()) {
            error = profile.path + ":" + std::to_string(number) + ": " + error;
            return false;
        }
        profile.settings.push_back(std::move(setting));
    }
    return true;
}

bool ReadProfile(const std::string& name, bool privileged, const std::string& systemFolder,
                 Profile& profile, std::string& error) {
    if (name.empty() || name.find('/') != name.npos || name.starts_with('.')) {
        error = "--machine takes the name of a machine's profile (model15), not " + name;
        return false;
    }
    const std::string home = Home(privileged);
    const std::string userFolder = UserFolder(privileged, home);
    std::vector<std::string> places;
    if (!userFolder.empty())
        places.push_back(userFolder + "/" + name + ".conf");
    places.push_back(systemFolder + "/" + name + ".conf");
    std::string text;
    int why = ENOENT;
    for (const std::string& path : places) {
        why = privileged ? ReadAsInvokingUser(path, text) : ReadSmallFile(path, text);
        profile.path = path;
        if (why != ENOENT && why != ENOTDIR)
            break;
    }
    if (why == ENOENT || why == ENOTDIR) {
        error = "there is no profile for the machine " + name + ": neither " + places.front() +
                (places.size() > 1 ? " nor " + places.back() : std::string()) + " exists";
        return false;
    }
    if (why != 0) {
        error = "cannot read the profile " + profile.path + ": " + ReadFailure(why);
        return false;
    }
    return ParseProfile(text, home, profile, error);
}

Options WithProfile(const std::vector<std::string>& commandLine, const Profile& profile,
                    const std::function<std::string(const Options&)>& check) {
    const Options given = ParseOptions(commandLine);
    // Each setting the command line leaves to the profile, unless what is run refuses it: a
    // machine's --code is no concern of --apply.
    std::vector<const ProfileSetting*> taken;
    for (const ProfileSetting& setting : profile.settings) {
        if (Overridden(setting, commandLine, given))
            continue;
        taken.push_back(&setting);
        if (!Merged(commandLine, taken).error.empty())
            taken.pop_back();
    }
    Options options = Merged(commandLine, taken);
    if (!options.error.empty())
        return options;
    if (options.apply && options.apply->empty()) {
        options.error = "--apply needs a value, and " + profile.path + " has no line = RATE";
        return options;
    }
    options.error = check(options);
    // Each option's own error starts with its name.
    for (const ProfileSetting* setting : taken) {
        if (NamesOption(options.error, setting->key)) {
            options.error =
                profile.path + ":" + std::to_string(setting->line) + ": " + options.error;
            break;
        }
    }
    return options;
}

}  // namespace app
