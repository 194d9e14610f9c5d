// SPDX-License-Identifier: GPL-3.0-or-later
#include "os/ReadAll.h"

#include <unistd.h>

#include <cerrno>

namespace os {

int ReadAll(int fd, std::size_t most, std::string& text) {
    char buffer[64 * 1024];
    const std::size_t start = text.size();
    for (;;) {
        const ssize_t size = read(fd, buffer, sizeof buffer);
        if (size < 0 && errno == EINTR)
            continue;
        if (size < 0)
            return errno;
        if (size == 0)
            return 0;
        text.append(buffer, static_cast<std::size_t>(size));
        if (text.size() - start > most)
            return EFBIG;
    }
}

}  // namespace os
