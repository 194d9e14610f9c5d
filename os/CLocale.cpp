// SPDX-License-Identifier: GPL-3.0-or-later
#include "os/CLocale.h"

#include <charconv>
#include <cstdarg>
#include <cstdio>

namespace os {
namespace {

locale_t CLocale() {
    static const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return c;
}

}  // namespace

CLocaleScope::CLocaleScope() : previous_(uselocale(CLocale())) {}

CLocaleScope::~CLocaleScope() {
    uselocale(previous_);
}

std::string FormatC(const char* format, ...) {
    const CLocaleScope c;
    std::va_list arguments;
    va_start(arguments, format);
    std::va_list again;
    va_copy(again, arguments);
    const int length = std::vsnprintf(nullptr, 0, format, arguments);
    std::string text(length > 0 ? static_cast<std::size_t>(length) : 0, '\0');
    if (length > 0)
        std::vsnprintf(text.data(), text.size() + 1, format, again);
    va_end(again);
    va_end(arguments);
    return text;
}

std::optional<double> ReadDecimal(std::string_view text) {
    bool digits = false;
    int points = 0;
    for (const char c : text) {
        if (c >= '0' && c <= '9') {
            digits = true;
        } else if (c != '.' || ++points > 1) {
            return std::nullopt;
        }
    }
    double value = 0;
    const char* end = text.data() + text.size();
    if (!digits || std::from_chars(text.data(), end, value).ptr != end)
        return std::nullopt;
    return value;
}

}  // namespace os
