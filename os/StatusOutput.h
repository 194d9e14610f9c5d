// SPDX-License-Identifier: GPL-3.0-or-later
// Status lines for a loop that must never wait on its reader (a hold's 100 ms looks, the
// bridge's loop): a line goes out as far as the reader takes it now. The rest of a line it took
// in part is kept and sent later; a line it takes nothing of is dropped, and counted.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace os {

// How long the end of a run waits for a reader that takes nothing.
inline constexpr std::chrono::milliseconds kEndWait{2000};

class StatusOutput {
  public:
    // Writes to `stream`, whose buffered text goes first, once there is room for it. The
    // descriptor behind it is never switched to non-blocking, since that flag would change it
    // for the shell too: a terminal or a pipe is opened a second time, non-blocking, and a
    // socket is sent to without waiting. Only where neither can be had is the descriptor polled
    // for room, which a terminal reports while a single byte is free.
    explicit StatusOutput(std::FILE* stream);
    ~StatusOutput();
    StatusOutput(const StatusOutput&) = delete;
    StatusOutput& operator=(const StatusOutput&) = delete;

    // Sends what waits as far as the reader takes it now.
    void Flush();

    // Sends `line` (without its newline) as far as the reader takes it now. Dropped when it takes
    // none of it, or while a line it took in part waits; then counted, and the next line that
    // goes out says how many were dropped.
    void Line(const std::string& line);
    // Text that is shown again soon (a line rewritten in place): sent like a line, but dropped
    // without being counted.
    void Text(std::string_view text);

    // Sends the run's last `lines`, after the count of the lines dropped since the last that
    // went, waiting up to `wait` for the reader to take them; whether it did. What is left stays
    // unsaid: the end of a run never hangs on a reader that has gone to sleep.
    bool Finish(const std::vector<std::string>& lines, std::chrono::milliseconds wait);

    std::size_t Dropped() const { return dropped_; }
    // Whether anything waits for the reader: the caller looks again soon.
    bool Waiting() const;

  private:
    // Writes what fits of `kept_` now.
    void Send();
    // Sends `text` unless something waits already; whether the reader took any of it.
    bool Put(std::string_view text);
    bool HasRoom() const;
    std::string DroppedLine() const;

    std::FILE* stream_;
    int fd_;        // the stream's descriptor; -1 for a stream in memory
    int own_ = -1;  // the second, non-blocking open of the same file
    bool socket_ = false;
    std::string kept_;  // the rest of a line the reader took in part
    std::size_t dropped_ = 0;
};

}  // namespace os
