// SPDX-License-Identifier: GPL-3.0-or-later
// What to do about what the hardware said, in this program's own terms: the hardware layers say
// what happened and why, and the advice that names an option is added here.
#pragma once

#include <string>

#include "uart/LineOutcome.h"

namespace line {

// The outcome's notice, with what would serve instead where the hardware refused the line.
std::string AdvisedNotice(const uart::LineOutcome& outcome);

}  // namespace line
