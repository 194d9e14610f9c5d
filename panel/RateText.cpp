#include "panel/RateText.h"

#include <locale.h>

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace panel {
namespace {

constexpr int kDisplayReadLimit = 28;

// Switches the calling thread to the C locale for the life of the object.
class CLocaleScope {
  public:
    CLocaleScope() : previous_(uselocale(CLocale())) {}
    ~CLocaleScope() { uselocale(previous_); }
    CLocaleScope(const CLocaleScope&) = delete;
    CLocaleScope& operator=(const CLocaleScope&) = delete;

  private:
    static locale_t CLocale() {
        static const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
        return c;
    }
    locale_t previous_;
};

}  // namespace

QString FormatRate(double rate) {
    const CLocaleScope c;
    char text[64];
    std::snprintf(text, sizeof text, "%6.2f", rate);
    return QString::fromLatin1(text);
}

double ReadRate(const QString& displayText) {
    const QByteArray text = displayText.left(kDisplayReadLimit).toLatin1();
    const CLocaleScope c;
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
