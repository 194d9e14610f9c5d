// The program's own texts: the string table, the About box's lines and the version record.
#pragma once

#include <array>
#include <string_view>

namespace res {

// String table.
inline constexpr std::string_view kAboutMenuText = "&About Tembrisk...";  // IDS_ABOUTBOX

// The notice line of the About box and of the version record.
inline constexpr const char* kNoticeLine = "\u00A9 2026 The Quorlix project";

// The About box's list, one entry a line, blanks included.
inline constexpr std::array<std::string_view, 22> kAboutLines{
    "----------------------------------",
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
    "----------------------------------",
    "Available Ports (use command line parameter)",
    "   1 = 0x3F8",
    "   2 = 0x2F8",
    "   3 = 0x3E8",
    "   4 = 0x3E0",
    "   5 = 0x2F0",
    "   6 = 0x2E8",
    "   7 = 0x2E0",
    "   8 = 0x260",
    "----------------------------------",
};

// The version record.
struct VersionRecord {
    std::array<int, 4> fileVersion;
    std::string_view fileVersionText;
    std::string_view language;  // U.S. English, Unicode
    std::string_view companyName;
    std::string_view fileDescription;
    std::string_view internalName;
    std::string_view legalCopyright;
    std::string_view legalTrademarks;
    std::string_view originalFilename;
    std::string_view productName;
};

inline constexpr VersionRecord kVersion{
    {1, 0, 0, 1},
    "1, 0, 0, 1",
    "040904B0",
    "",
    "Quorlix MFC Application",
    "Quorlix",
    kNoticeLine,
    "",
    "Quorlix.EXE",
    "Quorlix Application",
};

// "1.0.0.1".
inline constexpr std::string_view kVersionDotted = "1.0.0.1";

}  // namespace res
