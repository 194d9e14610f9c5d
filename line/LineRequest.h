// SPDX-License-Identifier: GPL-3.0-or-later
// quorlix --apply: the panel's operations from a script, without a window.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "line/HoldLock.h"
#include "uart/Framing.h"
#include "uart/PortIo.h"

namespace line {

struct ApplyRequest {
    bool program = false;                  // --apply was given: one ProgramUart call
    std::optional<double> rate;            // none: the framing alone
    std::optional<uart::Framing> framing;  // none: the rate alone, in the line's framing
    std::optional<bool> dtr;
    std::optional<bool> rts;
    bool hold = false;  // then keep it all until SIGINT, SIGTERM or SIGHUP
    // The caller goes on using the port (the bridge): what the kernel does at the last close is
    // not yet to be said.
    bool portStaysOpen = false;
    // Where a hold's lock is kept (see line::HoldLock).
    std::string lockFolder = line::kLockFolder;
};

// Reads "RATE", "RATE,FRAMING", ",FRAMING" or "FRAMING": the rate a plain decimal number, the
// framing written like 5N1.5, 8E1, 7M2; blanks around either part are ignored. Returns false
// with `error` set, naming the part it did not understand, when the text makes no sense.
bool ParseApply(const std::string& text, ApplyRequest& request, std::string& error);

// Through `io` at `base`: sets the framing codes (for a rate alone, those the line has), makes
// one ProgramUart call, then sets DTR and RTS, and after each step says what the hardware does,
// or what went wrong. With `hold`, then keeps what it set, looking at the port every
// kHoldInterval, and says each re-application with its time, until SIGINT, SIGTERM or SIGHUP.
// What opening the port came to (`opened`) is said with the first step. Returns the exit status.
int RunScripted(const ApplyRequest& request, uart::PortIo& io, std::int32_t base, std::FILE* out,
                std::FILE* err, const uart::LineOutcome& opened = {});

}  // namespace line
