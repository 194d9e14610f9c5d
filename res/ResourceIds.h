// SPDX-License-Identifier: GPL-3.0-or-later
// Identifiers of the dialogs, controls and commands. The string IDS_ABOUTBOX and the icon
// IDR_MAINFRAME are reached by name (res/Strings.h, res/AppIcon.h), not by number.
#pragma once

namespace res {

// Dialog templates.
inline constexpr int IDD_ABOUTBOX = 100;
inline constexpr int IDD_PORTSET_DIALOG = 102;

// Commands of the panel's system menu.
inline constexpr int IDM_ABOUTBOX = 0x0010;
inline constexpr int SC_MOVE = 0xF010;
inline constexpr int SC_CLOSE = 0xF060;

// Standard dialog command.
inline constexpr int IDOK = 1;

// The panel's controls.
inline constexpr int IDC_RATE_DISPLAY = 1000;
inline constexpr int IDC_RATE_SLIDER = 1003;
inline constexpr int IDC_STEP_DOWN = 1004;
inline constexpr int IDC_STEP_UP = 1005;
inline constexpr int IDC_BITS_5 = 1006;
inline constexpr int IDC_BITS_6 = 1007;
inline constexpr int IDC_BITS_7 = 1008;
inline constexpr int IDC_BITS_8 = 1009;
inline constexpr int IDC_PARITY_NONE = 1010;
inline constexpr int IDC_PARITY_ODD = 1011;
inline constexpr int IDC_PARITY_EVEN = 1012;
inline constexpr int IDC_PARITY_MARK = 1013;
inline constexpr int IDC_PARITY_SPACE = 1014;
inline constexpr int IDC_STOP_1 = 1015;
inline constexpr int IDC_STOP_1_5 = 1016;
inline constexpr int IDC_STOP_2 = 1017;
inline constexpr int IDC_RATE_45_45 = 1018;
inline constexpr int IDC_RATE_50_0 = 1019;
inline constexpr int IDC_RATE_56_9 = 1020;
inline constexpr int IDC_RATE_74_2 = 1021;
inline constexpr int IDC_RATE_100_0 = 1022;
inline constexpr int IDC_RATE_110_0 = 1023;
inline constexpr int IDC_RATE_300_0 = 1024;
inline constexpr int IDC_DTR = 1025;
inline constexpr int IDC_RTS = 1026;
inline constexpr int IDC_ABOUT_LIST = 1028;
inline constexpr int IDC_HOLD = 1029;  // in the panel's own area below its template
inline constexpr int IDC_RATE_GROUP = 1048;

// Controls without an identifier of their own.
inline constexpr int IDC_STATIC = -1;

}  // namespace res
