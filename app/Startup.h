// SPDX-License-Identifier: GPL-3.0-or-later
// The whole program, from its command line to its exit status.
#pragma once

#include <cstdio>
#include <string>

#include "app/Privileges.h"
#include "uart/DirectPortIo.h"

namespace app {

// What the process is given from outside, so that tests can stand in for it.
struct Environment {
    uart::IopermFunction ioperm = nullptr;
    std::FILE* out = stdout;
    std::FILE* err = stderr;
    // Started from a desktop menu, nobody reads standard error: say why in a window too.
    bool showFailuresInWindow = false;
    bool (*startedPrivileged)() = &StartedPrivileged;
    std::string (*leavePrivilege)() = &LeavePrivilege;
    // Where the kernel's sysfs is, which tells a USB adapter's chip.
    std::string sysfs = "/sys";
    // Where the machines' profiles for every user are (--machine).
    std::string systemProfiles = "/etc/quorlix";
};

// Options, port, privilege, then the panel, the scripted mode or the bridge. Returns the exit
// status: 0, 1 when the port cannot be had or set, 2 for a command line that makes no sense.
int Main(int argc, char** argv, const Environment& environment = {});

}  // namespace app
