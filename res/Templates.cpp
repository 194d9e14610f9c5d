// The two dialog templates.
#include "res/DialogTemplate.h"
#include "res/ResourceIds.h"
#include "res/Strings.h"

namespace res {
namespace {

using enum ControlKind;

constexpr ControlTemplate kPortSetControls[] = {
    {IDC_RATE_GROUP, "IDC_RATE_GROUP", GroupBox, "Baud", {11, 22, 45, 87}, kStyleNone},
    {IDC_RATE_45_45, "IDC_RATE_45_45", AutoRadioButton, "45.45", {13, 31, 42, 11}, kGroup},
    {IDC_RATE_50_0, "IDC_RATE_50_0", AutoRadioButton, "50.0", {13, 42, 37, 11}, kStyleNone},
    {IDC_RATE_56_9, "IDC_RATE_56_9", AutoRadioButton, "56.9", {13, 53, 37, 11}, kStyleNone},
    {IDC_RATE_74_2, "IDC_RATE_74_2", AutoRadioButton, "74.2", {13, 64, 37, 11}, kStyleNone},
    {IDC_RATE_100_0, "IDC_RATE_100_0", AutoRadioButton, "100.0", {13, 74, 42, 11}, kStyleNone},
    {IDC_RATE_110_0, "IDC_RATE_110_0", AutoRadioButton, "110.0", {13, 85, 42, 11}, kStyleNone},
    {IDC_RATE_300_0, "IDC_RATE_300_0", AutoRadioButton, "300.0", {13, 95, 41, 11}, kStyleNone},
    {IDC_RATE_DISPLAY, "IDC_RATE_DISPLAY", Edit, "", {7, 7, 45, 13},
     kReadOnly | kCentred | kBorder | kTabStop},
    {IDC_RATE_SLIDER, "IDC_RATE_SLIDER", Trackbar, "Slider1", {58, 17, 13, 273},
     kVertical | kTicksBothSides | kTabStop},
    {IDC_STEP_DOWN, "IDC_STEP_DOWN", PushButton, "-", {58, 7, 13, 11}, kCentred | kTabStop},
    {IDC_STEP_UP, "IDC_STEP_UP", PushButton, "+", {58, 293, 13, 11}, kCentred | kTabStop},
    {IDC_BITS_5, "IDC_BITS_5", AutoRadioButton, "5", {13, 185, 20, 10}, kGroup},
    {IDC_BITS_6, "IDC_BITS_6", AutoRadioButton, "6", {13, 197, 20, 10}, kStyleNone},
    {IDC_BITS_7, "IDC_BITS_7", AutoRadioButton, "7", {13, 208, 20, 10}, kStyleNone},
    {IDC_BITS_8, "IDC_BITS_8", AutoRadioButton, "8", {13, 220, 20, 10}, kStyleNone},
    {IDC_STATIC, "IDC_STATIC", GroupBox, "Bits", {11, 175, 46, 60}, kStyleNone},
    {IDC_STATIC, "IDC_STATIC", GroupBox, "Parity", {11, 109, 45, 65}, kStyleNone},
    {IDC_PARITY_NONE, "IDC_PARITY_NONE", AutoRadioButton, "None", {13, 117, 33, 10}, kGroup},
    {IDC_PARITY_ODD, "IDC_PARITY_ODD", AutoRadioButton, "Odd", {13, 128, 29, 10}, kStyleNone},
    {IDC_PARITY_EVEN, "IDC_PARITY_EVEN", AutoRadioButton, "Even", {13, 138, 33, 10}, kStyleNone},
    {IDC_PARITY_MARK, "IDC_PARITY_MARK", AutoRadioButton, "Mark", {13, 148, 32, 10}, kStyleNone},
    {IDC_PARITY_SPACE, "IDC_PARITY_SPACE", AutoRadioButton, "Space", {13, 159, 37, 10},
     kStyleNone},
    {IDC_STOP_1, "IDC_STOP_1", AutoRadioButton, "1", {13, 245, 20, 10}, kGroup},
    {IDC_STOP_1_5, "IDC_STOP_1_5", AutoRadioButton, "1.5", {13, 257, 26, 10}, kStyleNone},
    {IDC_STATIC, "IDC_STATIC", GroupBox, "Stop", {11, 235, 46, 46}, kStyleNone},
    {IDC_STOP_2, "IDC_STOP_2", AutoRadioButton, "2", {13, 268, 20, 10}, kStyleNone},
    {IDC_DTR, "IDC_DTR", AutoCheckBox, "DTR", {13, 281, 31, 10}, kTabStop},
    {IDC_RTS, "IDC_RTS", AutoCheckBox, "RTS", {13, 294, 31, 10}, kTabStop},
};

constexpr ControlTemplate kAboutControls[] = {
    {IDC_STATIC, "IDC_STATIC", Icon, "", {7, 7, 20, 20}, kStyleNone},
    {IDC_STATIC, "IDC_STATIC", StaticText, "Quorlix Version 1.0", {54, 7, 119, 8},
     kNoPrefix | kGroup},
    {IDC_STATIC, "IDC_STATIC", StaticText, kNoticeLine, {53, 16, 119, 8}, kGroup},
    {IDOK, "IDOK", DefaultPushButton, "OK", {180, 7, 50, 14}, kGroup | kTabStop},
    {IDC_ABOUT_LIST, "IDC_ABOUT_LIST", ListBox, "", {7, 35, 223, 77},
     kBorder | kVerticalScrollBar | kTabStop | kNotify | kNoIntegralHeight | kUnsorted},
};

}  // namespace

const DialogTemplate kPortSetDialog{
    IDD_PORTSET_DIALOG, "IDD_PORTSET_DIALOG", "Quorlix", 78, 311, "MS Sans Serif", 8,
    kPortSetControls};

const DialogTemplate kAboutBox{
    IDD_ABOUTBOX, "IDD_ABOUTBOX", "About Quorlix", 237, 119, "MS Sans Serif", 8, kAboutControls};

}  // namespace res
