// SPDX-License-Identifier: GPL-3.0-or-later
// Keeps the line this program set against the terminal program's driver: a look at the UART at
// a fixed interval, and when something else changed what was set, the same writes again.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "uart/Framing.h"
#include "uart/LineSettings.h"
#include "uart/PortIo.h"

namespace line {

// How often the UART is looked at while held.
inline constexpr std::chrono::milliseconds kHoldInterval{100};

class Hold {
  public:
    // Keeps the UART at `base`, reached through ThePortIo().
    explicit Hold(std::int32_t base) : base_(base) {}

    // What was just written, to be kept from now on. `rate` is what ProgramUart was given (0:
    // the divisor was left alone, and so it is not held); `running` the rate the line runs at
    // instead of that divisor's own, if any (one that cannot be known is not looked at).
    void KeepLine(double rate, const uart::Framing& framing,
                  const std::optional<uart::RunningRate>& running);
    // A modem line (kMcrDtr or kMcrRts) just raised or dropped.
    void KeepModemLine(std::uint8_t mask, bool on);
    bool Empty() const { return !framing_ && !dtr_ && !rts_; }

    enum class Look {
        Kept,           // as set, or nothing to keep
        Reapplied,      // something else had changed it: written again
        LookFailed,     // the UART could not be looked at; the notice says why
        ReapplyFailed,  // written again, and the backend failed; the notice says why
    };
    struct Looked {
        Look look = Look::Kept;
        // What the backend had to say about the look and the writes; failed where the look or
        // the writes did.
        uart::LineOutcome outcome;
    };
    // One look, and what was changed put back: reads the line state and, where it differs from
    // what is kept (the line control byte other than what was written, break aside; the rate
    // where the backend shows it; DTR or RTS), writes the divisor and framing again (four
    // writes, as for a rate change; one for a framing alone) and puts DTR and RTS back
    // (read-modify-write).
    Looked LookAndPutBack();

    // How many re-applications reached the port.
    int ReapplyCount() const { return count_; }
    // Why the last look wrote the line again, or tried to: "the driver set 300 Bd 8N1".
    const std::string& LastReason() const { return reason_; }
    // "re-applied 3×, last: the driver set 300 Bd 8N1", or "not re-applied".
    std::string Summary() const;
    // What a look cannot see of the line kept, in one line; empty when it sees every change.
    // Over the I/O ports with parity on: Linux's 8250 driver writes such a framing's line
    // control byte exactly as this program does, and the divisor sits behind the latch.
    std::string Limit() const;

  private:
    std::int32_t base_;
    double rate_ = 0;                // 0: the divisor is not held
    std::optional<double> running_;  // the rate the line runs at while kept, where seen
    std::optional<uart::Framing> framing_;
    std::optional<bool> dtr_, rts_;
    bool latchSeen_ = false;  // the last look found the divisor latch open
    int count_ = 0;
    std::string reason_;     // of the last look that wrote, or tried to
    std::string reapplied_;  // of the last re-application that reached the port
};

}  // namespace line
