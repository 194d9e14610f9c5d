// SPDX-License-Identifier: GPL-3.0-or-later
// The program's privilege is a loan for one call: CAP_SYS_RAWIO (or root) is held only until the
// kernel has answered for the UART's eight I/O addresses. While it is held, the program reads
// only its own options (with its own parser); what would make the toolkit load code from a place
// the user names (plugin paths, their variables) is removed, and the toolkit starts only after
// LeavePrivilege.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace app {

// Whether the process started with more than its user's rights: a set-id or file-capability
// exec (AT_SECURE), any capability in its effective, permitted or ambient set, or root.
bool StartedPrivileged();

// The user who ran the program through sudo (SUDO_UID and SUDO_GID, while the real user is root;
// a set-user-id start is not sudo, whatever its environment says).
struct InvokingUser {
    uid_t uid;
    gid_t gid;
};
std::optional<InvokingUser> SudoUser();

// Gives up every privilege for good: under sudo, root goes back to the invoking user (ids,
// groups, checked that it cannot be regained); after a set-user-id or set-group-id start, every
// id goes back to the real one; then every capability leaves the effective,
// permitted and inheritable sets, the ambient set is cleared, and no-new-privileges is set.
// The I/O port permission already granted stays with the process. Returns an empty string on
// success, else the message for the user.
std::string LeavePrivilege();

// Under sudo, whether `user` may open `path` for reading and writing by the file's own
// permissions, looked at with the user's ids and groups. Returns a descriptor that names the
// file the check found (O_PATH, to be opened through /proc/self/fd), or -1 with `error` set to
// the message for the user.
int CheckInvokingUserMayOpen(const std::string& path, const InvokingUser& user, std::string& error);

// "/proc/self/fd/N": the name through which the file open as `fd` is opened again.
std::string DescriptorPath(int fd);

// Removes from the environment the variables that make Qt, or the libraries it loads, load code
// from a folder or file the user names. Returns the names of those that were set.
std::vector<std::string> RemoveCodeLoadingVariables();

}  // namespace app
