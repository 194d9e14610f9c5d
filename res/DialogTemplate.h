// SPDX-License-Identifier: GPL-3.0-or-later
// Dialog templates as data: each control's identifier, name, kind, text, rectangle in dialog
// units and style, in template (tab) order.
#pragma once

#include <span>

namespace res {

enum class ControlKind {
    GroupBox,
    AutoRadioButton,
    AutoCheckBox,
    PushButton,
    DefaultPushButton,
    Edit,
    Trackbar,
    StaticText,
    Icon,
    ListBox,
};

// Style flags, named after what they do.
enum ControlStyle : unsigned {
    kStyleNone = 0,
    kGroup = 1u << 0,  // opens a keyboard group that runs to the next such control
    kTabStop = 1u << 1,
    kReadOnly = 1u << 2,
    kCentred = 1u << 3,  // text centred (both ways for push buttons)
    kBorder = 1u << 4,
    kVertical = 1u << 5,
    kTicksBothSides = 1u << 6,
    kVerticalScrollBar = 1u << 7,
    kUnsorted = 1u << 8,
};

struct DialogRect {
    int x, y, width, height;
};

struct ControlTemplate {
    int id;            // IDC_STATIC for none
    const char* name;  // the IDC_ name; also the widget's objectName
    ControlKind kind;
    const char* text;
    DialogRect rect;
    unsigned style;
};

struct DialogTemplate {
    int id;
    const char* name;
    const char* caption;
    int width, height;  // dialog units
    const char* fontFamily;
    int fontPointSize;
    std::span<const ControlTemplate> controls;
};

extern const DialogTemplate kPortSetDialog;
extern const DialogTemplate kAboutBox;

}  // namespace res
