// SPDX-License-Identifier: GPL-3.0-or-later
// A list in a sentence: "a", "a and b", "a, b and c".
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace os {

// `parts` with commas between them and `last` ("and", "or") before the last one.
std::string Listed(const std::vector<std::string>& parts, std::string_view last = "and");

}  // namespace os
