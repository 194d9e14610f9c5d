// SPDX-License-Identifier: GPL-3.0-or-later
// One hold (or bridge) of a UART at a time, across processes: two holds of one line would set
// it against each other for ever. The lock is an flock on a file of this program's own, named
// after the UART, so that it never meets the terminal program's own locks (an flock on the
// device, or the LCK..ttyS1 files). The panel and --apply without --hold take none.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "uart/PortIo.h"

namespace line {

// Where the locks are kept.
inline constexpr char kLockFolder[] = "/run/lock";

// How a lock that another process has is waited for, instead of refused.
struct LockWait {
    int stop = -1;  // the wait ends, and the lock is not had, once this is readable
    std::function<void(const std::string&)> told;  // who has it, said once before the wait
};

class HoldLock {
  public:
    // The lock on the UART that `io` reaches at `base`, kept in `folder`. Null, with `refusal`
    // naming the process that holds it, when another has it (and whose lock file it is, when
    // another user's, or that the process it names is gone). Where no lock can be had at all
    // (no such folder, a FIFO, a device or a link in its place) the run goes on unlocked, and
    // `notice` says so and why. The file made is open to every user's lock, whatever the umask.
    // With `wait`, a lock another process has is waited for until it lets it go (the holder's
    // close wakes the wait: nothing is looked at meanwhile) or `wait->stop` is readable.
    static std::unique_ptr<HoldLock> Take(uart::PortIo& io, std::int32_t base, std::string& refusal,
                                          std::string& notice,
                                          const std::string& folder = kLockFolder,
                                          const LockWait* wait = nullptr);
    ~HoldLock();
    HoldLock(const HoldLock&) = delete;
    HoldLock& operator=(const HoldLock&) = delete;

  private:
    explicit HoldLock(int fd) : fd_(fd) {}
    int fd_;
};

}  // namespace line
