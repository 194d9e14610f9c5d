// Giving root back after the port permission is held: a GUI does not run as root.
#pragma once

#include <string>

namespace app {

// When the process runs as root through sudo, switches to the invoking user (SUDO_UID,
// SUDO_GID and that user's groups) for good. The I/O port permission stays with the process.
// Returns an empty string on success or when there is nothing to give back, else the reason.
std::string GiveBackRoot();

}  // namespace app
