// SPDX-License-Identifier: GPL-3.0-or-later
#include "os/Listed.h"

namespace os {

std::string Listed(const std::vector<std::string>& parts, std::string_view last) {
    std::string text;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i > 0)
            text += i + 1 == parts.size() ? " " + std::string(last) + " " : ", ";
        text += parts[i];
    }
    return text;
}

}  // namespace os
