// SPDX-License-Identifier: GPL-3.0-or-later
#include "os/StatusOutput.h"

#include <fcntl.h>
#include <poll.h>
#include <stdio_ext.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "os/CLocale.h"

namespace os {

namespace {

// A second open of the terminal or pipe behind `fd`, non-blocking; -1 where there is none. A
// terminal's poll() reports room while one byte is free, and a write to the first descriptor
// would then wait for the rest; this one takes what fits and says how much.
int OpenNonBlocking(int fd) {
    struct stat file {};
    if (fstat(fd, &file) != 0 || !(S_ISFIFO(file.st_mode) || (S_ISCHR(file.st_mode) && isatty(fd))))
        return -1;
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    return open(path.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
}

bool IsSocket(int fd) {
    struct stat file {};
    return fstat(fd, &file) == 0 && S_ISSOCK(file.st_mode);
}

}  // namespace

StatusOutput::StatusOutput(std::FILE* stream) : stream_(stream), fd_(fileno(stream)) {
    if (fd_ >= 0) {
        own_ = OpenNonBlocking(fd_);
        socket_ = own_ < 0 && IsSocket(fd_);
    }
    Flush();
}

StatusOutput::~StatusOutput() {
    if (own_ >= 0)
        close(own_);
}

bool StatusOutput::Waiting() const {
    return !kept_.empty() || (fd_ >= 0 && __fpending(stream_) > 0);
}

bool StatusOutput::HasRoom() const {
    pollfd room{fd_, POLLOUT, 0};
    return poll(&room, 1, 0) == 1 && (room.revents & POLLOUT) != 0;
}

void StatusOutput::Flush() {
    if (fd_ < 0)  // a stream in memory: written at once
        return;
    // What the stream held goes first: a few lines, written once there is room.
    if (__fpending(stream_) > 0) {
        if (!HasRoom())
            return;
        if (std::fflush(stream_) != 0)
            __fpurge(stream_);  // a reader that went away takes nothing more
    }
    Send();
}

void StatusOutput::Send() {
    while (!kept_.empty()) {
        ssize_t written = 0;
        if (own_ >= 0)
            written = write(own_, kept_.data(), kept_.size());
        else if (socket_)
            written = send(fd_, kept_.data(), kept_.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
        else if (HasRoom())
            written = write(fd_, kept_.data(), kept_.size());
        else
            return;
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        if (written <= 0) {  // a reader that went away (SIGPIPE is ignored) takes nothing more
            kept_.clear();
            return;
        }
        kept_.erase(0, static_cast<std::size_t>(written));
    }
}

bool StatusOutput::Put(std::string_view text) {
    if (fd_ < 0) {
        std::fwrite(text.data(), 1, text.size(), stream_);
        return true;
    }
    Flush();
    if (Waiting())
        return false;
    kept_ = text;
    Send();
    if (kept_.size() < text.size())
        return true;
    kept_.clear();  // none of it went: dropped whole, never cut
    return false;
}

std::string StatusOutput::DroppedLine() const {
    return os::FormatC("(%zu lines dropped while the output was blocked)\n", dropped_);
}

void StatusOutput::Line(const std::string& line) {
    if (Put((dropped_ > 0 ? DroppedLine() : std::string()) + line + "\n"))
        dropped_ = 0;
    else
        ++dropped_;
}

void StatusOutput::Text(std::string_view text) {
    Put(text);
}

bool StatusOutput::Finish(const std::vector<std::string>& lines, std::chrono::milliseconds wait) {
    std::string text = dropped_ > 0 ? DroppedLine() : std::string();
    dropped_ = 0;
    for (const std::string& line : lines)
        text += line + "\n";
    if (fd_ < 0) {
        std::fputs(text.c_str(), stream_);
        return true;
    }
    kept_ += text;
    const auto until = std::chrono::steady_clock::now() + wait;
    for (Flush(); Waiting() && std::chrono::steady_clock::now() < until; Flush()) {
        // A terminal may report room that a line's end does not fit: look again a little later
        // instead of spinning on it.
        poll(nullptr, 0, 20);
    }
    const bool all = !Waiting();
    kept_.clear();
    __fpurge(stream_);  // nor may the stream's close wait for its reader
    return all;
}

}  // namespace os
