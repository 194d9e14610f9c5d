// SPDX-License-Identifier: GPL-3.0-or-later
// A time limit for whatever may wait for ever (the bridge, a blocked stream): one that hangs
// ends the test program with a message instead of hanging CTest.
#pragma once

#include <unistd.h>

#include <csignal>

struct TimeLimit {
    explicit TimeLimit(unsigned seconds) {
        std::signal(SIGALRM, [](int) {
            constexpr char kSaid[] = "FAIL!  : a wait did not end within its time limit\n";
            [[maybe_unused]] const ssize_t written = write(STDERR_FILENO, kSaid, sizeof kSaid - 1);
            _exit(1);
        });
        alarm(seconds);
    }
    ~TimeLimit() { alarm(0); }
};
