// SPDX-License-Identifier: GPL-3.0-or-later
#include "uart/LineOutcome.h"

#include <utility>

namespace uart {

void LineOutcome::Add(LineOutcome later) {
    if (later.rate)
        rate = later.rate;
    if (later.running)
        running = std::move(later.running);
    if (!notice.empty() && !later.notice.empty())
        notice += "; ";
    notice += later.notice;
    failed |= later.failed;
    if (later.instead != Instead::Nothing)
        instead = later.instead;
    if (later.error != 0)
        error = later.error;
}

}  // namespace uart
