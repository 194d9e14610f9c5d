// SPDX-License-Identifier: GPL-3.0-or-later
// The two dialog templates.
#include "res/DialogTemplate.h"
#include "res/ResourceIds.h"
#include "res/Strings.h"
#include "res/Version.h"

namespace res {
namespace {

using enum ControlKind;

// A row's identifier and, from its very spelling, its name (the widget's objectName).
#define ID(identifier) identifier, #identifier

// clang-format off
constexpr ControlTemplate kPortSetControls[] = {
    {ID(IDC_RATE_GROUP),   GroupBox,        "Baud",    {11, 22, 45, 87},  kStyleNone},
    {ID(IDC_RATE_45_45),   AutoRadioButton, "45.45",   {13, 31, 42, 11},  kGroup},
    {ID(IDC_RATE_50_0),    AutoRadioButton, "50.0",    {13, 42, 37, 11},  kStyleNone},
    {ID(IDC_RATE_56_9),    AutoRadioButton, "56.9",    {13, 53, 37, 11},  kStyleNone},
    {ID(IDC_RATE_74_2),    AutoRadioButton, "74.2",    {13, 64, 37, 11},  kStyleNone},
    {ID(IDC_RATE_100_0),   AutoRadioButton, "100.0",   {13, 74, 42, 11},  kStyleNone},
    {ID(IDC_RATE_110_0),   AutoRadioButton, "110.0",   {13, 85, 42, 11},  kStyleNone},
    {ID(IDC_RATE_300_0),   AutoRadioButton, "300.0",   {13, 95, 41, 11},  kStyleNone},
    {ID(IDC_RATE_DISPLAY), Edit,            "",        {7, 7, 45, 13},    kReadOnly | kCentred | kBorder | kTabStop},
    {ID(IDC_RATE_SLIDER),  Trackbar,        "Slider1", {58, 17, 13, 273}, kVertical | kTicksBothSides | kTabStop},
    {ID(IDC_STEP_DOWN),    PushButton,      "-",       {58, 7, 13, 11},   kCentred | kTabStop},
    {ID(IDC_STEP_UP),      PushButton,      "+",       {58, 293, 13, 11}, kCentred | kTabStop},
    {ID(IDC_BITS_5),       AutoRadioButton, "5",       {13, 185, 20, 10}, kGroup},
    {ID(IDC_BITS_6),       AutoRadioButton, "6",       {13, 197, 20, 10}, kStyleNone},
    {ID(IDC_BITS_7),       AutoRadioButton, "7",       {13, 208, 20, 10}, kStyleNone},
    {ID(IDC_BITS_8),       AutoRadioButton, "8",       {13, 220, 20, 10}, kStyleNone},
    {ID(IDC_STATIC),       GroupBox,        "Bits",    {11, 175, 46, 60}, kStyleNone},
    {ID(IDC_STATIC),       GroupBox,        "Parity",  {11, 109, 45, 65}, kStyleNone},
    {ID(IDC_PARITY_NONE),  AutoRadioButton, "None",    {13, 117, 33, 10}, kGroup},
    {ID(IDC_PARITY_ODD),   AutoRadioButton, "Odd",     {13, 128, 29, 10}, kStyleNone},
    {ID(IDC_PARITY_EVEN),  AutoRadioButton, "Even",    {13, 138, 33, 10}, kStyleNone},
    {ID(IDC_PARITY_MARK),  AutoRadioButton, "Mark",    {13, 148, 32, 10}, kStyleNone},
    {ID(IDC_PARITY_SPACE), AutoRadioButton, "Space",   {13, 159, 37, 10}, kStyleNone},
    {ID(IDC_STOP_1),       AutoRadioButton, "1",       {13, 245, 20, 10}, kGroup},
    {ID(IDC_STOP_1_5),     AutoRadioButton, "1.5",     {13, 257, 26, 10}, kStyleNone},
    {ID(IDC_STATIC),       GroupBox,        "Stop",    {11, 235, 46, 46}, kStyleNone},
    {ID(IDC_STOP_2),       AutoRadioButton, "2",       {13, 268, 20, 10}, kStyleNone},
    {ID(IDC_DTR),          AutoCheckBox,    "DTR",     {13, 281, 31, 10}, kTabStop},
    {ID(IDC_RTS),          AutoCheckBox,    "RTS",     {13, 294, 31, 10}, kTabStop},
};

constexpr ControlTemplate kAboutControls[] = {
    {ID(IDC_STATIC),     Icon,              "",                                       {7, 7, 20, 20},   kStyleNone},
    {ID(IDC_STATIC),     StaticText,        "Quorlix Version " QUORLIX_VERSION_SHORT, {54, 7, 119, 8},  kGroup},
    {ID(IDC_STATIC),     StaticText,        kNoticeLine,                              {53, 16, 119, 8}, kGroup},
    {ID(IDOK),           DefaultPushButton, "OK",                                     {180, 7, 50, 14}, kGroup | kTabStop},
    {ID(IDC_ABOUT_LIST), ListBox,           "",                                       {7, 35, 223, 77}, kBorder | kVerticalScrollBar | kTabStop | kUnsorted},
};
// clang-format on

}  // namespace

const DialogTemplate kPortSetDialog{ID(IDD_PORTSET_DIALOG), "Quorlix", 78, 311, "MS Sans Serif", 8,
                                    kPortSetControls};

const DialogTemplate kAboutBox{ID(IDD_ABOUTBOX), "About Quorlix", 237, 119, "MS Sans Serif", 8,
                               kAboutControls};

#undef ID

}  // namespace res
