// SPDX-License-Identifier: GPL-3.0-or-later
// The bridge's spool: a folder into which anyone allowed drops whole text files to be printed
// one after another. inotify says when the folder changed, so that an idle spool costs no
// wake-up; the folder is looked at only when the loop asks for the next job.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

namespace bridge {

// A job dropped into the spool folder, read whole.
struct SpoolJob {
    std::string name;  // its name in the folder
    std::string text;  // its bytes
    dev_t device = 0;  // the file read, so that only that file is removed
    ino_t inode = 0;
};

// Which files are jobs: every regular file whose name does not start with "." that is there at
// the start, and after that each one closed after writing or moved in. A file created and not
// yet closed is still being written (cp writes the final name in place); a "."-name is a file
// being written under a temporary name. Nothing in the folder is followed or opened unless it
// is a regular file, so that a link cannot print what its owner could not read, and a FIFO or a
// device cannot block or be woken. What cannot be a job is said once and left as it is.
class Spool {
  public:
    // Watches `folder` with inotify. Null with `error` set ("--spool /x: no such folder") where
    // it is not a folder this user may read and write, or cannot be watched.
    static std::unique_ptr<Spool> Open(const std::string& folder, std::string& error);
    ~Spool();
    Spool(const Spool&) = delete;
    Spool& operator=(const Spool&) = delete;

    // inotify's descriptor, non-blocking: readable when the folder changed.
    int Fd() const { return watch_; }
    // Reads what Fd() reported (never blocks); whether a job may have become ready.
    bool Take();
    // The first ready job in name order (byte order of the names), read whole and left in the
    // folder; none when none is ready. An entry that cannot be a job is said once through `say`
    // (one line, "quorlix: spool: NAME is a symbolic link: not printed, left as it is") and
    // left as it is, until something is written or moved to its name.
    std::optional<SpoolJob> Next(const std::function<void(const std::string&)>& say);
    // Takes the job's file away, if its name still names the file read, unchanged since. The
    // failure, said as a line for the user, or empty. A file that is left is not printed again
    // until something is written or moved to its name.
    std::string Remove(const SpoolJob& job);
    const std::string& Folder() const { return folder_; }

  private:
    // A file, as it was when it was looked at.
    struct Seen {
        dev_t device = 0;
        ino_t inode = 0;
        long long written = 0;  // its modification time in nanoseconds, when it was read
    };

    Spool(std::string folder, int folderFd, int watch);
    // Every entry of the folder that may be a job is ready (at the start, and when events
    // were lost).
    void ReadyAll();
    // A name's change as inotify reported it; whether it may have made a job.
    bool Changed(const std::string& name, std::uint32_t mask);
    // Reads `name` as a job, or says why it is none (empty when it is simply gone).
    std::optional<SpoolJob> Read(const std::string& name, std::string& refusal, Seen& seen) const;

    std::string folder_;
    int folderFd_;
    int watch_;
    std::set<std::string> ready_;         // in byte order: std::string compares as unsigned char
    std::set<std::string> beingMade_;     // created, not yet closed after writing
    std::map<std::string, Seen> left_;    // said or printed, and left as they are
    std::map<std::string, Seen> handed_;  // jobs handed out, until removed
};

// A dropped file's name as it may be said on one line: whoever drops a file chooses its name,
// and a control character in it is shown as \xNN.
std::string ShownName(const std::string& name);

inline constexpr std::size_t kLargestJob = 16 * 1024 * 1024;  // bytes

}  // namespace bridge
