// SPDX-License-Identifier: GPL-3.0-or-later
// Reading a file whole, with a bound: a profile, a print job, a spooled job.
#pragma once

#include <cstddef>
#include <string>

namespace os {

// Appends what `fd` holds, to its end, to `text`. Returns 0, the errno of a failed read, or
// EFBIG once more than `most` bytes have come (what came is kept). EINTR is read through.
int ReadAll(int fd, std::size_t most, std::string& text);

}  // namespace os
