// SPDX-License-Identifier: GPL-3.0-or-later
#include "bridge/Spool.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "os/ReadAll.h"

namespace bridge {
namespace {

// What makes a name worth looking at again. IN_CREATE alone is a file still being written.
constexpr std::uint32_t kWatched = IN_CLOSE_WRITE | IN_MOVED_TO | IN_CREATE | IN_DELETE |
                                   IN_MOVED_FROM | IN_ONLYDIR | IN_EXCL_UNLINK;

// Closes a descriptor when it goes out of scope.
struct Closing {
    int fd;
    ~Closing() {
        if (fd >= 0)
            close(fd);
    }
};

std::string Said(const std::string& name, const std::string& what) {
    return "quorlix: spool: " + ShownName(name) + " " + what;
}

std::string Refused(const std::string& name, const std::string& why) {
    return Said(name, why + ": not printed, left as it is");
}

std::string Kind(mode_t mode) {
    if (S_ISLNK(mode))
        return "is a symbolic link";
    if (S_ISDIR(mode))
        return "is a folder";
    if (S_ISFIFO(mode))
        return "is a FIFO";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "is a device";
    if (S_ISSOCK(mode))
        return "is a socket";
    return "is not a regular file";
}

std::string Failed(const char* what, int error) {
    return std::string(what) + " (" + std::strerror(error) + ")";
}

std::string Unremovable(const std::string& name, int error) {
    return Said(name, Failed("cannot be removed", error) + ": left, not printed again");
}

bool Hidden(const std::string& name) {
    return name.empty() || name[0] == '.';
}

long long Written(const struct stat& status) {
    return status.st_mtim.tv_sec * 1'000'000'000LL + status.st_mtim.tv_nsec;
}

std::string Unwatchable(int error) {
    if (error == ENOSPC)
        return "cannot be watched: this user's inotify watches are used up "
               "(fs.inotify.max_user_watches)";
    if (error == EMFILE)
        return "cannot be watched: this user has too many inotify instances "
               "(fs.inotify.max_user_instances)";
    return Failed("cannot be watched", error);
}

}  // namespace

// A name as it may be shown on one line: whoever drops a file chooses its name.
std::string ShownName(const std::string& name) {
    std::string shown;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            shown += escaped;
        } else {
            shown += c;
        }
    }
    return shown;
}

std::unique_ptr<Spool> Spool::Open(const std::string& folder, std::string& error) {
    const std::string option = "--spool " + folder + ": ";
    // The user names the folder: it may be reached through a link. What is inside never is.
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        error = option + (errno == ENOENT    ? "no such folder"
                          : errno == ENOTDIR ? "not a folder"
                                             : Failed("cannot be opened", errno));
        return nullptr;
    }
    Closing closing{fd};
    // Jobs are read and removed with this user's rights alone: nothing is ever chmod'ed.
    if (faccessat(fd, ".", R_OK | W_OK | X_OK, AT_EACCESS) != 0) {
        error = option + Failed("this user may not read and write in it", errno);
        return nullptr;
    }
    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watch < 0) {
        error = option + Unwatchable(errno);
        return nullptr;
    }
    // The folder opened, not whatever its path names by now; the path where /proc is missing.
    const std::string opened = "/proc/self/fd/" + std::to_string(fd);
    if (inotify_add_watch(watch, opened.c_str(), kWatched) < 0 &&
        (errno != ENOENT || inotify_add_watch(watch, folder.c_str(), kWatched) < 0)) {
        error = option + Unwatchable(errno);
        close(watch);
        return nullptr;
    }
    closing.fd = -1;
    std::unique_ptr<Spool> spool(new Spool(folder, fd, watch));
    // Watched first, listed after: a file dropped in between is not missed.
    spool->ReadyAll();
    return spool;
}

Spool::Spool(std::string folder, int folderFd, int watch)
    : folder_(std::move(folder)), folderFd_(folderFd), watch_(watch) {}

Spool::~Spool() {
    close(watch_);
    close(folderFd_);
}

void Spool::ReadyAll() {
    const int listed = dup(folderFd_);
    if (listed < 0)
        return;
    DIR* entries = fdopendir(listed);
    if (entries == nullptr) {
        close(listed);
        return;
    }
    rewinddir(entries);  // the offset is shared with the folder's own descriptor
    while (const dirent* entry = readdir(entries)) {
        if (!Hidden(entry->d_name))
            ready_.insert(entry->d_name);
    }
    closedir(entries);
}

bool Spool::Take() {
    bool changed = false;
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t size = read(watch_, buffer, sizeof buffer);
        if (size < 0 && errno == EINTR)
            continue;
        if (size <= 0)
            return changed;  // EAGAIN: all taken
        for (ssize_t at = 0; at < size;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            if ((event->mask & IN_Q_OVERFLOW) != 0) {
                ReadyAll();  // what was closed is not known: taken as at the start
                changed = true;
            } else if (event->len > 0) {
                changed = Changed(event->name, event->mask) || changed;
            }
        }
    }
}

bool Spool::Changed(const std::string& name, std::uint32_t mask) {
    if (Hidden(name))
        return false;   // still being written under a name of its own
    left_.erase(name);  // what is there now is looked at afresh
    if ((mask & (IN_DELETE | IN_MOVED_FROM)) != 0) {
        ready_.erase(name);
        beingMade_.erase(name);
        return false;
    }
    if ((mask & IN_CREATE) != 0) {
        ready_.erase(name);
        beingMade_.insert(name);
        return true;  // a link or a folder is never closed after writing: it is said at once
    }
    beingMade_.erase(name);
    ready_.insert(name);
    return true;
}

std::optional<SpoolJob> Spool::Next(const std::function<void(const std::string&)>& say) {
    // What was made and is no regular file will never be closed after writing.
    for (auto made = beingMade_.begin(); made != beingMade_.end();) {
        struct stat status;
        const bool there = fstatat(folderFd_, made->c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0;
        if (there && S_ISREG(status.st_mode)) {
            ++made;
            continue;
        }
        if (there || errno != ENOENT)
            ready_.insert(*made);
        made = beingMade_.erase(made);
    }
    while (!ready_.empty()) {
        const std::string name = *ready_.begin();
        ready_.erase(ready_.begin());  // handed out or left: ready again only once changed
        std::string refusal;
        Seen seen;
        std::optional<SpoolJob> job = Read(name, refusal, seen);
        const auto left = left_.find(name);
        if (left != left_.end() && left->second.device == seen.device &&
            left->second.inode == seen.inode)
            continue;  // said, or printed and not removable, already
        if (job) {
            handed_[name] = seen;
            return job;
        }
        if (!refusal.empty()) {
            say(Refused(name, refusal));
            left_[name] = seen;
        }
    }
    return std::nullopt;
}

std::optional<SpoolJob> Spool::Read(const std::string& name, std::string& refusal,
                                    Seen& seen) const {
    // Looked at before it is opened: opening a FIFO or a device may block or wake it.
    struct stat status;
    if (fstatat(folderFd_, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno != ENOENT)
            refusal = Failed("cannot be looked at", errno);
        return std::nullopt;
    }
    seen = {status.st_dev, status.st_ino, Written(status)};
    if (!S_ISREG(status.st_mode)) {
        refusal = Kind(status.st_mode);
        return std::nullopt;
    }
    // It may have been replaced since: the descriptor says what was opened.
    const Closing file{
        openat(folderFd_, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY)};
    if (file.fd < 0) {
        if (errno == ELOOP)
            refusal = Kind(S_IFLNK);
        else if (errno != ENOENT)
            refusal = Failed("cannot be read", errno);
        return std::nullopt;
    }
    if (fstat(file.fd, &status) != 0) {
        refusal = Failed("cannot be read", errno);
        return std::nullopt;
    }
    seen = {status.st_dev, status.st_ino, Written(status)};
    const std::string tooLarge =
        "is larger than " + std::to_string(kLargestJob / (1024 * 1024)) + " MiB";
    if (!S_ISREG(status.st_mode) || static_cast<std::size_t>(status.st_size) > kLargestJob) {
        refusal = S_ISREG(status.st_mode) ? tooLarge : Kind(status.st_mode);
        return std::nullopt;
    }
    SpoolJob job{name, {}, status.st_dev, status.st_ino};
    job.text.reserve(static_cast<std::size_t>(status.st_size));
    if (const int failure = os::ReadAll(file.fd, kLargestJob, job.text); failure != 0) {
        // EFBIG: it grew while it was read
        refusal = failure == EFBIG ? tooLarge : Failed("cannot be read", failure);
        return std::nullopt;
    }
    return job;
}

std::string Spool::Remove(const SpoolJob& job) {
    const auto handed = handed_.find(job.name);
    const long long written = handed != handed_.end() ? handed->second.written : 0;
    handed_.erase(job.name);
    struct stat status;
    if (fstatat(folderFd_, job.name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? std::string() : Unremovable(job.name, errno);
    // Whatever is there now came after the job, and is a job of its own once it is whole.
    if (status.st_dev != job.device || status.st_ino != job.inode)
        return Said(job.name, "was replaced while it printed: the new one stays, to be printed");
    if (Written(status) != written)
        return Said(job.name, "was written again while it printed: it stays, to be printed");
    if (unlinkat(folderFd_, job.name.c_str(), 0) != 0 && errno != ENOENT) {
        left_[job.name] = {status.st_dev, status.st_ino, written};
        return Unremovable(job.name, errno);
    }
    return {};
}

}  // namespace bridge
