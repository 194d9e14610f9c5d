// SPDX-License-Identifier: GPL-3.0-or-later
// What a function writes to a stream, captured as text.
#pragma once

#include <QString>
#include <cstdio>
#include <cstdlib>
#include <functional>

// What `write` writes to a stream, as text.
inline QString Capture(const std::function<void(std::FILE*)>& write) {
    char* text = nullptr;
    std::size_t size = 0;
    std::FILE* stream = open_memstream(&text, &size);
    write(stream);
    std::fclose(stream);
    const QString result = QString::fromLocal8Bit(text);
    std::free(text);
    return result;
}
