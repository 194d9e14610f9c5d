#include "app/Privileges.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>

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
    return std::string("quorlix: could not give root back (") + step + ": " + std::strerror(errno) +
           "); the panel does not run as root.\n";
}

}  // namespace

std::string GiveBackRoot() {
    if (geteuid() != 0)
        return {};
    const std::optional<unsigned> uid = ReadId("SUDO_UID");
    const std::optional<unsigned> gid = ReadId("SUDO_GID");
    if (!uid || !gid)
        return {};  // root by login, not through sudo: nobody to give it back to

    const passwd* user = getpwuid(*uid);
    if (user != nullptr) {
        if (initgroups(user->pw_name, *gid) != 0)
            return Failure("initgroups");
        setenv("HOME", user->pw_dir, 1);
        setenv("USER", user->pw_name, 1);
        setenv("LOGNAME", user->pw_name, 1);
    } else if (setgroups(0, nullptr) != 0) {
        return Failure("setgroups");
    }
    if (setgid(*gid) != 0)
        return Failure("setgid");
    if (setuid(*uid) != 0)
        return Failure("setuid");
    if (setuid(0) == 0) {  // must be gone for good
        errno = EPERM;
        return Failure("setuid");
    }
    return {};
}

}  // namespace app
