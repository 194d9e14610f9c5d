// SPDX-License-Identifier: GPL-3.0-or-later
#include "line/Advice.h"

namespace line {

std::string AdvisedNotice(const uart::LineOutcome& outcome) {
    switch (outcome.instead) {
        case uart::Instead::Card:
            return outcome.notice + " A 16550 card (--device /dev/ttyS\u2026) reaches it.";
        case uart::Instead::TeleprinterAdapterOrCard:
            return outcome.notice +
                   " For a teleprinter use a PL2303 or CH340 adapter, or a 16550 card "
                   "(--device /dev/ttyS\u2026).";
        case uart::Instead::Nothing:
            break;
    }
    return outcome.notice;
}

}  // namespace line
