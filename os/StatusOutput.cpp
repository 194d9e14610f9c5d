// SPDX-License-Identifier: GPL-3.0-or-later
#include "os/StatusOutput.h"

#include <poll.h>
#include <stdio_ext.h>
#include <unistd.h>

#include <cerrno>

#include "os/CLocale.h"

namespace os {

namespace {

// Whether `fd` takes a line now without waiting.
bool HasRoom(int fd) {
    pollfd room{fd, POLLOUT, 0};
    return poll(&room, 1, 0) == 1 && (room.revents & POLLOUT) != 0;
}

}  // namespace

StatusOutput::StatusOutput(std::FILE* stream) : stream_(stream), fd_(fileno(stream)) {
    Flush();
}

void StatusOutput::Flush() {
    // A few lines at most wait in the stream: room for one write is room for them.
    if (fd_ < 0 || (__fpending(stream_) > 0 && HasRoom(fd_)))
        std::fflush(stream_);
}

void StatusOutput::Line(const std::string& line) {
    std::string text;
    if (dropped_ > 0)
        text = os::FormatC("(%zu lines dropped while the output was blocked)\n", dropped_);
    text += line + "\n";
    if (fd_ < 0) {  // a stream in memory: it always has room
        std::fputs(text.c_str(), stream_);
        dropped_ = 0;
        return;
    }
    if (!HasRoom(fd_)) {
        ++dropped_;
        return;
    }
    std::fflush(stream_);  // what the stream held goes first
    // One write: a line fits in the room poll() found, and a reader that went away only fails
    // it (SIGPIPE is ignored).
    if (write(fd_, text.data(), text.size()) > 0)
        dropped_ = 0;
    else
        ++dropped_;
}

}  // namespace os
