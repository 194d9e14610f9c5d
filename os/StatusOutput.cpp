// SPDX-License-Identifier: GPL-3.0-or-later
#include "os/StatusOutput.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "uart/CLocale.h"

namespace os {

StatusOutput::StatusOutput(std::FILE* stream) : stream_(stream), fd_(fileno(stream)) {
    std::fflush(stream_);
}

void StatusOutput::Line(const std::string& line) {
    std::string text;
    if (dropped_ > 0)
        text = uart::FormatC("(%zu lines dropped while the output was blocked)\n", dropped_);
    text += line + "\n";
    if (fd_ < 0) {  // a stream in memory: it always has room
        std::fputs(text.c_str(), stream_);
        dropped_ = 0;
        return;
    }
    pollfd room{fd_, POLLOUT, 0};
    if (poll(&room, 1, 0) != 1 || (room.revents & POLLOUT) == 0) {
        ++dropped_;
        return;
    }
    // One write: a line fits in the room poll() found, and a reader that went away only fails
    // it (SIGPIPE is ignored).
    if (write(fd_, text.data(), text.size()) > 0)
        dropped_ = 0;
    else
        ++dropped_;
}

}  // namespace os
