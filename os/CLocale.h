// SPDX-License-Identifier: GPL-3.0-or-later
// The program's own numbers are written and read in the C locale, whatever the user's locale:
// "9600.00", never "9600,00", in every message, summary and display.
#pragma once

#include <locale.h>

#include <optional>
#include <string>
#include <string_view>

namespace os {

// Switches the calling thread to the C locale for the life of the object.
class CLocaleScope {
  public:
    CLocaleScope();
    ~CLocaleScope();
    CLocaleScope(const CLocaleScope&) = delete;
    CLocaleScope& operator=(const CLocaleScope&) = delete;

  private:
    locale_t previous_;
};

// printf's formatting in the C locale.
std::string FormatC(const char* format, ...) __attribute__((format(printf, 1, 2)));

// A plain decimal number, "45.45", "300", "1.": digits with at most one point among them, read
// the same in every locale. Nothing for anything else: a sign, an exponent, a blank, "nan".
std::optional<double> ReadDecimal(std::string_view text);

}  // namespace os
