// SPDX-License-Identifier: GPL-3.0-or-later
// The program's icon, IDR_MAINFRAME: a punched Baudot tape, 32 x 32 and 16 x 16, 16 colours.
#pragma once

#include <QIcon>

namespace res {

QIcon LoadAppIcon();

}  // namespace res
