// SPDX-License-Identifier: GPL-3.0-or-later
// The signals that end a long run (the bridge, a hold), turned into something poll() can wait on.
#pragma once

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

}  // namespace os
