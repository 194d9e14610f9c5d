// SPDX-License-Identifier: GPL-3.0-or-later
// A machine's profile (--machine NAME): the options a teleprinter always needs, one
// `option = value` a line, so that a run names only what differs. Each setting stands for the
// long option of its name and is read by the command line's own parser; the command line wins.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "app/Options.h"

namespace app {

// One line of a profile that sets something.
struct ProfileSetting {
    int line = 0;  // counted from 1
    std::string key;
    std::vector<std::string> words;  // the command line's words it stands for ("line": its value)
};

struct Profile {
    std::string path;
    std::vector<ProfileSetting> settings;
};

// Reads `text`, the profile at `path`: '#' starts a comment, blank lines are left out, "~/"
// at a value's start is `home`. False with `error` set ("PATH:LINE: ...") where a line names
// no option the command line takes, a value it would refuse, or a choice of what to run.
bool ParseProfile(const std::string& text, const std::string& home, Profile& profile,
                  std::string& error);

// Finds and reads the profile of machine `name`: $XDG_CONFIG_HOME/quorlix/NAME.conf (or
// ~/.config), else `systemFolder`/NAME.conf. A privileged start (`privileged`) looks in the
// invoking user's home from the password database, whatever the environment says, and reads
// through a child that has given the privilege up: the user's rights, never root's.
bool ReadProfile(const std::string& name, bool privileged, const std::string& systemFolder,
                 Profile& profile, std::string& error);

// The options of `commandLine` with the profile's settings where the command line names none,
// and without those that do not go with what it asks for (--code with --apply). `check` reads
// the merged options' values as the run will; an error it finds names the profile's line
// whose setting causes it.
Options WithProfile(const std::vector<std::string>& commandLine, const Profile& profile,
                    const std::function<std::string(const Options&)>& check);

}  // namespace app
