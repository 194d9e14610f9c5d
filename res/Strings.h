// SPDX-License-Identifier: GPL-3.0-or-later
// The program's own texts: the string table and the About box's lines. The version is made
// by the build, in res/Version.h.
#pragma once

#include <array>
#include <string_view>

namespace res {

// String table.
inline constexpr std::string_view kAboutMenuText = "&About Tembrisk...";  // IDS_ABOUTBOX

// The notice line of the About box.
inline constexpr const char* kNoticeLine = "\u00A9 2026 The Quorlix project";

// The About box's list, one entry a line, blanks included: the description, then the table of
// port digits (made from the port table itself), each part closed by a rule.
inline constexpr std::string_view kAboutRule = "----------------------------------";
inline constexpr std::array<std::string_view, 10> kAboutDescription{
    "     RS-232 Vantrel Program",
    " ",
    "This application's purpose it to provides you the capability",
    " to control the RS-232 port parameters while using your ",
    "normal terminal program and was designed for testing lower",
    "speed BAUDOT teletype machines.  For updates please visit",
    "< https://quorlix.example.org/ >.",
    "   73's",
    "   The Quorlix project",
    " ",
};
inline constexpr std::string_view kAboutPortsHeading =
    "Available Ports (use command line parameter)";

}  // namespace res
