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
        case uart::Instead::Pl011:
            return outcome.notice +
                   " dtoverlay=disable-bt (or miniuart-bt) in config.txt puts the PL011 on GPIO 14 "
                   "and 15 in its place (then --device /dev/serial0, or /dev/ttyAMA0).";
        case uart::Instead::Nothing:
            break;
    }
    return outcome.notice;
}

}  // namespace line
