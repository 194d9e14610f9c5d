// SPDX-License-Identifier: GPL-3.0-or-later
// Runs the program's Main in this process, as a shell would run it, and captures what it prints.
#pragma once

#include <QCoreApplication>
#include <QString>
#include <QStringList>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

#include "Capture.h"
#include "app/Startup.h"

struct ProgramRun {
    int status = -1;
    QString out, err;
};

// The process's privilege, stood in for: the tests run in one process, often as root, which must
// keep what it has. Main's use of the privilege is recorded instead.
struct PrivilegeStandIn {
    static inline bool startedPrivileged = false;
    static inline int left = 0;                   // LeavePrivilege calls
    static inline bool toolkitRanBefore = false;  // a Qt application existed when it was called
    static inline std::string failure;            // what giving it up answers
    static bool Started() { return startedPrivileged; }
    static std::string Leave() {
        ++left;
        toolkitRanBefore |= QCoreApplication::instance() != nullptr;
        return failure;
    }
};

inline ProgramRun RunProgram(QStringList arguments, uart::IopermFunction ioperm = nullptr,
                             const std::string& sysfs = "/sys",
                             const std::string& systemProfiles = "/etc/quorlix") {
    arguments.prepend(QStringLiteral("/usr/bin/quorlix"));
    std::vector<QByteArray> storage;
    for (const QString& argument : arguments)
        storage.push_back(argument.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& argument : storage)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    ProgramRun run;
    run.out = Capture([&](std::FILE* out) {
        run.err = Capture([&](std::FILE* err) {
            run.status = app::Main(static_cast<int>(arguments.size()), argv.data(),
                                   {ioperm, out, err, false, &PrivilegeStandIn::Started,
                                    &PrivilegeStandIn::Leave, sysfs, systemProfiles});
        });
    });
    return run;
}
