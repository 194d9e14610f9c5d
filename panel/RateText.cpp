// SPDX-License-Identifier: GPL-3.0-or-later
#include "panel/RateText.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "os/CLocale.h"

namespace panel {
namespace {

constexpr int kDisplayReadLimit = 28;

}  // namespace

QString FormatRate(double rate) {
    // Formatted in place rather than through os::FormatC: this runs for every event bound for
    // the slider.
    const os::CLocaleScope c;
    char text[64];
    std::snprintf(text, sizeof text, "%6.2f", rate);
    return QString::fromLatin1(text);
}

double ReadRate(const QString& displayText) {
    const QByteArray text = displayText.left(kDisplayReadLimit).toLatin1();
    const os::CLocaleScope c;
    return std::atof(text.constData());
}

int PositionForRate(double rate) {
    const double position = std::trunc(ToSinglePrecision(rate) * 100.0);
    // The display only ever holds rates the program wrote, but an int conversion must never
    // see a value it cannot hold.
    if (std::isnan(position))
        return 0;
    if (position >= static_cast<double>(INT_MAX))
        return INT_MAX;
    if (position <= static_cast<double>(INT_MIN))
        return INT_MIN;
    return static_cast<int>(position);
}

}  // namespace panel
