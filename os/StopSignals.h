// SPDX-License-Identifier: GPL-3.0-or-later
// The signals that end a long run (the bridge, a hold), turned into something poll() can wait on.
#pragma once

#include <signal.h>

#include <string>

namespace os {

// SIGINT, SIGTERM and SIGHUP, caught for the life of the object unless they are ignored (as
// nohup ignores SIGHUP): each writes its number as one byte into a pipe whose reading end is
// Fd(). The previous handling comes back afterwards.
class StopSignals {
  public:
    StopSignals();
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // The pipe's reading end, or -1 when no pipe could be made.
    int Fd() const { return pipe_[0]; }
    // What ends the run, for the user: "Ctrl+C, SIGTERM or SIGHUP", less those ignored.
    std::string Names() const;

  private:
    int pipe_[2] = {-1, -1};
    bool caught_[3] = {false, false, false};  // SIGINT, SIGTERM, SIGHUP
};

// The same signals, blocked instead for the life of the object, in the calling thread and so in
// every thread it starts from then on (a toolkit's), and taken by reading Fd() (a signalfd):
// none can end the process while a thread is in the middle of something, such as a register
// sequence with the divisor latch open. Those ignored stay ignored.
class BlockedStopSignals {
  public:
    BlockedStopSignals();
    ~BlockedStopSignals();
    BlockedStopSignals(const BlockedStopSignals&) = delete;
    BlockedStopSignals& operator=(const BlockedStopSignals&) = delete;

    // Readable once one of them has arrived; -1 when none could be made, and then they are not
    // blocked either.
    int Fd() const { return fd_; }
    // Takes the signal that arrived and ends the process as that signal ends it by default.
    [[noreturn]] void EndAsSignalled();

  private:
    int fd_ = -1;
    sigset_t blocked_;
    sigset_t previous_;
};

}  // namespace os
