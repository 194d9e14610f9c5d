// SPDX-License-Identifier: GPL-3.0-or-later
#include "line/HoldLock.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>

namespace line {
using uart::PortIo;

namespace {

constexpr int kOpenFlags = O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;

// Opens the lock file at `path`, making it where there is none, and says whether it made it.
// Another user's hold may have left it read-only: a read-only open locks as well. `why` is the
// first open's failure, the one that tells the user what is wrong.
int OpenLockFile(const std::string& path, bool& made, int& why) {
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | kOpenFlags, 0644);
    made = fd >= 0;
    why = fd < 0 && errno != EEXIST ? errno : 0;
    if (fd < 0)
        fd = open(path.c_str(), O_RDWR | kOpenFlags);
    if (fd < 0 && why == 0)
        why = errno;
    if (fd < 0 && errno == EACCES)
        fd = open(path.c_str(), O_RDONLY | kOpenFlags);
    return fd;
}

// Whether process `pid` exists (one of another user's included).
bool Alive(long pid) {
    return pid > 0 && pid <= INT_MAX && (kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
}

// Who holds the lock open as `fd`, as far as its file tells: the number the holder wrote, which
// any user who may write the file could have written, so whose file it is is said too.
std::string Holder(int fd) {
    char text[16] = {};
    const ssize_t size = pread(fd, text, sizeof text - 1, 0);
    const long pid = size > 0 ? std::strtol(text, nullptr, 10) : 0;
    const bool alive = Alive(pid);
    std::string holder;
    if (alive)
        holder = " by process " + std::to_string(pid);
    else if (pid > 0)
        holder =
            " \u2014 the lock file names process " + std::to_string(pid) + ", which is not running";
    struct stat file {};
    if (fstat(fd, &file) == 0 && file.st_uid != geteuid()) {
        holder += std::string(pid > 0 && !alive ? ", and" : " \u2014 the lock file") +
                  " belongs to user " + std::to_string(file.st_uid);
    }
    return holder;
}

// Waits until the lock open as `fd`, at `path`, is had, or `wait.stop` is readable. A holder
// that ends closes the file, and each close of it wakes the wait; where it cannot be watched,
// it is tried once a second.
bool WaitForLock(int fd, const std::string& path, const LockWait& wait) {
    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    const bool watched =
        watch >= 0 && inotify_add_watch(watch, path.c_str(), IN_CLOSE | IN_DELETE_SELF) >= 0;
    bool had = false;
    // The watch is made before the lock is tried again: a close in between is not missed.
    while (!(had = flock(fd, LOCK_EX | LOCK_NB) == 0)) {
        pollfd ends[2] = {{wait.stop, POLLIN, 0}, {watched ? watch : -1, POLLIN, 0}};
        if (poll(ends, 2, watched ? -1 : 1000) < 0 && errno != EINTR)
            break;
        if (ends[0].revents != 0)
            break;
        char events[4096];
        while (watched && read(watch, events, sizeof events) > 0) {
        }
    }
    if (watch >= 0)
        close(watch);
    return had;
}

}  // namespace

std::unique_ptr<HoldLock> HoldLock::Take(PortIo& io, std::int32_t base, std::string& refusal,
                                         std::string& notice, const std::string& folder,
                                         const LockWait* wait) {
    const std::string key = io.HoldKey(base);
    if (key.empty())
        return std::unique_ptr<HoldLock>(new HoldLock(-1));  // no other process reaches it
    std::string name = key;
    for (char& c : name) {
        if (c == ':')
            c = '-';
    }
    const std::string path = folder + "/quorlix-" + name + ".lock";
    const std::string unlocked = "): a second hold of this UART would not be noticed";
    bool made = false;
    int why = 0;
    const int fd = OpenLockFile(path, made, why);
    if (fd < 0) {
        notice = "no lock " + path + " (" + std::strerror(why) + unlocked;
        return std::unique_ptr<HoldLock>(new HoldLock(-1));
    }
    // Only a file of its own may be the lock: any user may leave a FIFO there (whose reads
    // wait for ever), a device, or a link to another file.
    struct stat file {};
    if (fstat(fd, &file) != 0 || !S_ISREG(file.st_mode) || file.st_nlink != 1) {
        close(fd);
        notice = "no lock " + path + " (" +
                 (S_ISREG(file.st_mode) ? "a file with other names too" : "not a regular file") +
                 unlocked;
        return std::unique_ptr<HoldLock>(new HoldLock(-1));
    }
    // Made under a umask like 077, it would keep every other user's hold out of the lock.
    if (made)
        fchmod(fd, 0644);
    const std::string what = key.starts_with("0x") ? "the UART at " + key : "device " + key;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        refusal = what + " is already held" + Holder(fd);
        if (wait != nullptr) {
            if (wait->told)
                wait->told(refusal);
            if (WaitForLock(fd, path, *wait))
                refusal.clear();
        }
        if (!refusal.empty()) {
            close(fd);
            return nullptr;
        }
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
