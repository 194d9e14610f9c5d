// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/Privileges.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/auxv.h>
#include <sys/capability.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/Backend.h"

namespace app {
namespace {

std::optional<unsigned> ReadId(const char* name) {
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0')
        return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const unsigned long value = std::strtoul(text, &end, 10);
    if (errno != 0 || *end != '\0' || value == 0 || value > 0xFFFFFFFEul)
        return std::nullopt;
    return static_cast<unsigned>(value);
}

std::string Failure(const char* step) {
    return std::string("quorlix: could not give up privilege (") + step + ": " +
           std::strerror(errno) + "); nothing more is done with it.\n";
}

// The invoking user's supplementary groups, or only its own group when it has no entry.
std::vector<gid_t> GroupsOf(const InvokingUser& user) {
    const passwd* entry = getpwuid(user.uid);
    if (entry == nullptr)
        return {user.gid};
    int count = 16;
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    if (getgrouplist(entry->pw_name, user.gid, groups.data(), &count) < 0) {
        groups.resize(static_cast<std::size_t>(count));
        getgrouplist(entry->pw_name, user.gid, groups.data(), &count);
    }
    groups.resize(static_cast<std::size_t>(count));
    return groups;
}

// Switches to the invoking user for good.
std::string GiveBackRoot(const InvokingUser& user) {
    if (seteuid(0) != 0)  // a look with the user's eyes may have been left half undone
        return Failure("seteuid");
    const passwd* entry = getpwuid(user.uid);
    if (entry != nullptr) {
        if (initgroups(entry->pw_name, user.gid) != 0)
            return Failure("initgroups");
        setenv("HOME", entry->pw_dir, 1);
        setenv("USER", entry->pw_name, 1);
        setenv("LOGNAME", entry->pw_name, 1);
    } else if (setgroups(0, nullptr) != 0) {
        return Failure("setgroups");
    }
    if (setresgid(user.gid, user.gid, user.gid) != 0)
        return Failure("setresgid");
    if (setresuid(user.uid, user.uid, user.uid) != 0)
        return Failure("setresuid");
    if (setuid(0) == 0) {  // must be gone for good: root regained is not to be kept a moment
        std::fputs("quorlix: root could be regained after it was given up; stopping.\n", stderr);
        _exit(1);
    }
    return {};
}

// The process's real, effective and saved user and group ids.
struct Ids {
    uid_t ruid = 0, euid = 0, suid = 0;
    gid_t rgid = 0, egid = 0, sgid = 0;
    // Whether the effective and saved ids are the real ones.
    bool Settled() const { return euid == ruid && suid == ruid && egid == rgid && sgid == rgid; }
};
std::optional<Ids> CurrentIds() {
    Ids ids;
    if (getresuid(&ids.ruid, &ids.euid, &ids.suid) != 0 ||
        getresgid(&ids.rgid, &ids.egid, &ids.sgid) != 0)
        return std::nullopt;
    return ids;
}

// A set-user-id or set-group-id start: the ids it lent go back to the real ones, for good.
std::string ReturnToRealIds() {
    const std::optional<Ids> ids = CurrentIds();
    if (!ids)
        return Failure("getresuid");
    if ((ids->egid != ids->rgid || ids->sgid != ids->rgid) &&
        setresgid(ids->rgid, ids->rgid, ids->rgid) != 0)
        return Failure("setresgid");
    if ((ids->euid != ids->ruid || ids->suid != ids->ruid) &&
        setresuid(ids->ruid, ids->ruid, ids->ruid) != 0)
        return Failure("setresuid");
    return {};
}

class Capabilities {
  public:
    explicit Capabilities(cap_t caps) : caps_(caps) {}
    ~Capabilities() { cap_free(caps_); }
    Capabilities(const Capabilities&) = delete;
    Capabilities& operator=(const Capabilities&) = delete;
    cap_t get() const { return caps_; }

  private:
    cap_t caps_;
};

bool HoldsCapabilities() {
    const Capabilities now(cap_get_proc());
    const Capabilities none(cap_init());
    if (now.get() == nullptr || none.get() == nullptr)
        return true;  // cannot tell: assume the worst
    // The ambient set is always part of the permitted one.
    const int differs = cap_compare(now.get(), none.get());
    return CAP_DIFFERS(differs, CAP_EFFECTIVE) || CAP_DIFFERS(differs, CAP_PERMITTED) ||
           CAP_DIFFERS(differs, CAP_INHERITABLE);
}

// Variables that make Qt or a library it loads take code from a place the user names. Qt's
// own plugin paths, QML's import paths, the GTK modules and GIO extension modules that the
// GTK platform theme pulls in, the OpenGL, EGL, Vulkan, GBM and VA-API driver and layer paths
// that a graphics stack may follow, glibc's character-set modules, and the dynamic loader's
// lists (for anything started later).
constexpr const char* kCodeLoadingVariables[] = {
    "QT_PLUGIN_PATH",
    "QT_QPA_PLATFORM_PLUGIN_PATH",
    "QML_IMPORT_PATH",
    "QML2_IMPORT_PATH",
    "GTK_PATH",
    "GTK_MODULES",
    "GTK3_MODULES",
    "GTK_IM_MODULE_FILE",
    "GTK_EXE_PREFIX",
    "GIO_EXTRA_MODULES",
    "GDK_PIXBUF_MODULEDIR",
    "GDK_PIXBUF_MODULE_FILE",
    "GIO_MODULE_DIR",
    "LIBGL_DRIVERS_PATH",
    "LIBGL_DRIVERS_DIR",
    "__EGL_VENDOR_LIBRARY_DIRS",
    "__EGL_VENDOR_LIBRARY_FILENAMES",
    "VK_ICD_FILENAMES",
    "VK_DRIVER_FILES",
    "VK_ADD_DRIVER_FILES",
    "VK_LAYER_PATH",
    "VK_ADD_LAYER_PATH",
    "GBM_BACKENDS_PATH",
    "LIBVA_DRIVERS_PATH",
    "GCONV_PATH",
    "LD_PRELOAD",
    "LD_LIBRARY_PATH",
    "LD_AUDIT",
};

}  // namespace

bool StartedPrivileged() {
    return getauxval(AT_SECURE) != 0 || geteuid() == 0 || getuid() == 0 || HoldsCapabilities();
}

std::optional<InvokingUser> SudoUser() {
    // sudo runs the program with every user id root. A set-user-id start keeps the caller's
    // real id, and then SUDO_UID and SUDO_GID are only the caller's own words.
    if (getuid() != 0)
        return std::nullopt;
    const std::optional<unsigned> uid = ReadId("SUDO_UID");
    const std::optional<unsigned> gid = ReadId("SUDO_GID");
    if (!uid || !gid)
        return std::nullopt;  // root by login, not through sudo: nobody to give it back to
    return InvokingUser{*uid, *gid};
}

std::string LeavePrivilege() {
    const std::optional<InvokingUser> user = SudoUser();
    if (std::string failed = user ? GiveBackRoot(*user) : ReturnToRealIds(); !failed.empty())
        return failed;
    const Capabilities none(cap_init());
    if (none.get() == nullptr || cap_set_proc(none.get()) != 0)
        return Failure("cap_set_proc");
    if (CAP_AMBIENT_SUPPORTED() && cap_reset_ambient() != 0)
        return Failure("cap_reset_ambient");
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
        return Failure("no_new_privs");
    if (HoldsCapabilities()) {
        errno = EPERM;
        return Failure("cap_get_proc");
    }
    // Under sudo, GiveBackRoot made sure root cannot come back; otherwise the ids now are the
    // real ones, and without a capability none of them can change again.
    if (const std::optional<Ids> ids = CurrentIds(); !ids || !ids->Settled()) {
        errno = EPERM;
        return Failure("getresuid");
    }
    return {};
}

int CheckInvokingUserMayOpen(const std::string& path, const InvokingUser& user,
                             std::string& error) {
    std::vector<gid_t> rootGroups(static_cast<std::size_t>(getgroups(0, nullptr)));
    rootGroups.resize(static_cast<std::size_t>(
        getgroups(static_cast<int>(rootGroups.size()), rootGroups.data())));
    const std::vector<gid_t> userGroups = GroupsOf(user);

    int fd = -1;
    int why = 0;
    bool allowed = false;
    if (setgroups(userGroups.size(), userGroups.data()) == 0 && setegid(user.gid) == 0 &&
        seteuid(user.uid) == 0) {
        fd = open(path.c_str(), O_PATH | O_CLOEXEC);
        why = errno;
        if (fd >= 0) {
            allowed = faccessat(fd, "", R_OK | W_OK, AT_EACCESS | AT_EMPTY_PATH) == 0;
            if (!allowed && errno == EINVAL) {  // a kernel without faccessat2
                allowed =
                    faccessat(AT_FDCWD, DescriptorPath(fd).c_str(), R_OK | W_OK, AT_EACCESS) == 0;
            }
            why = errno;
        }
    } else {
        why = errno;
    }
    // Root again, for the open itself; it is given back for good right after.
    if (seteuid(0) != 0 || setegid(0) != 0 ||
        setgroups(rootGroups.size(), rootGroups.data()) != 0) {
        if (fd >= 0)
            close(fd);
        error = Failure("seteuid");
        return -1;
    }
    if (fd < 0) {
        error = DeviceOpenFailure(path, why);
        return -1;
    }
    if (!allowed) {
        close(fd);
        error = "quorlix: cannot use " + path + ": " + std::strerror(why) +
                ".\nYou may not open it for reading and writing yourself, and quorlix, started "
                "through sudo, opens only the devices that you may open. Join the group that "
                "owns it (sudo usermod -aG dialout $USER) and log in again.\n";
        return -1;
    }
    return fd;
}

std::string DescriptorPath(int fd) {
    return "/proc/self/fd/" + std::to_string(fd);
}

std::vector<std::string> RemoveCodeLoadingVariables() {
    std::vector<std::string> removed;
    for (const char* name : kCodeLoadingVariables) {
        if (std::getenv(name) != nullptr) {
            unsetenv(name);
            removed.emplace_back(name);
        }
    }
    return removed;
}

}  // namespace app
