// SPDX-License-Identifier: GPL-3.0-or-later
// Status lines for a loop that must never wait on its reader (a hold's 100 ms looks): a line
// goes out only when the stream has room for it now.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

namespace os {

class StatusOutput {
  public:
    // Writes to `stream`, whose buffered text goes first, once there is room for it. The
    // descriptor behind it is only polled, never switched to non-blocking: that flag would
    // change it for the shell too.
    explicit StatusOutput(std::FILE* stream);

    // Sends what the stream still holds when there is room for it now; otherwise leaves it.
    void Flush();

    // Sends `line` (without its newline) when the stream has room now; otherwise drops it and
    // counts it, and the next line that goes out says how many were dropped.
    void Line(const std::string& line);
    std::size_t Dropped() const { return dropped_; }

  private:
    std::FILE* stream_;
    int fd_;
    std::size_t dropped_ = 0;
};

}  // namespace os
