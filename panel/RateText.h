// SPDX-License-Identifier: GPL-3.0-or-later
// The rate as the display shows it and as it is read back, in the C locale whatever the user's
// locale, so that a decimal comma can never turn " 74.20" into 74.
#pragma once

#include <QString>

namespace panel {

// "%6.2f": at least six characters, two decimals (" 45.45", "300.00").
QString FormatRate(double rate);

// atof of the first 28 characters; text that is not a number reads as 0.
double ReadRate(const QString& displayText);

// The rate as single precision holds it, widened back to double.
inline double ToSinglePrecision(double rate) {
    return static_cast<double>(static_cast<float>(rate));
}

// The slider position for a rate read back from the display: the single-precision rate times
// 100.0 in double precision, truncated toward zero (" 74.20" gives 7419).
int PositionForRate(double rate);

// The rate of a slider position, in baud: position / 100.0.
inline double RateForPosition(int position) {
    return position / 100.0;
}

}  // namespace panel
