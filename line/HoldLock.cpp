// SPDX-License-Identifier: GPL-3.0-or-later
#include "line/HoldLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace line {
using uart::PortIo;

std::unique_ptr<HoldLock> HoldLock::Take(PortIo& io, std::int32_t base, std::string& refusal,
                                         std::string& notice, const std::string& folder) {
    const std::string key = io.HoldKey(base);
    if (key.empty())
        return std::unique_ptr<HoldLock>(new HoldLock(-1));  // no other process reaches it
    std::string name = key;
    for (char& c : name) {
        if (c == ':')
            c = '-';
    }
    const std::string path = folder + "/quorlix-" + name + ".lock";
    constexpr int kFlags = O_NOFOLLOW | O_CLOEXEC | O_NOCTTY;
    int fd = open(path.c_str(), O_RDWR | O_CREAT | kFlags, 0644);
    if (fd < 0 && errno == EACCES)
        fd = open(path.c_str(), O_RDONLY | kFlags);  // another user's hold left it: still ours
    if (fd < 0) {
        notice = "no lock " + path + " (" + std::strerror(errno) +
                 "): a second hold of this UART would not be noticed";
        return std::unique_ptr<HoldLock>(new HoldLock(-1));
    }
    const std::string what = key.starts_with("0x") ? "the UART at " + key : "device " + key;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        char text[16] = {};
        const ssize_t size = pread(fd, text, sizeof text - 1, 0);
        close(fd);
        const long holder = size > 0 ? std::strtol(text, nullptr, 10) : 0;
        refusal =
            what + " is already held" + (holder > 0 ? " by process " + std::to_string(holder) : "");
        return nullptr;
    }
    const std::string pid = std::to_string(getpid()) + "\n";
    // A read-only lock file keeps an older holder's number: the lock itself is what counts.
    if (ftruncate(fd, 0) == 0) {
        [[maybe_unused]] const ssize_t written = pwrite(fd, pid.data(), pid.size(), 0);
    }
    return std::unique_ptr<HoldLock>(new HoldLock(fd));
}

HoldLock::~HoldLock() {
    if (fd_ >= 0)
        close(fd_);
}

}  // namespace line
