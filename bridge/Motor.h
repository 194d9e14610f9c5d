// SPDX-License-Identifier: GPL-3.0-or-later
// The teleprinter's motor, on a modem line that the interface's relay follows. It reads the time
// from the clock it is given, so that what it does at each moment can be followed without
// waiting for that moment.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>

#include "bridge/Pump.h"

namespace bridge {

using Clock = std::chrono::steady_clock;

// Started when text waits, which goes out once the motor has run its start time; kept running
// while text goes out or comes in; stopped after its idle time of quiet, but not while the
// driver still holds codes to send. Its line is switched through the installed backend (as the
// scripted mode's --rts is), so that a trace shows it; a switch that fails is said once. While
// it is stopped, its line is looked at once a second: any other open of the port raises it.
class Motor {
  public:
    using Now = std::function<Clock::time_point()>;

    // The motor `setup` describes (none where its line is 0), on the clock `now`. The open
    // raised its line only just now: it counts as stopped, so that the first code of anything
    // (a test pattern too) waits for its start.
    explicit Motor(const PumpSetup& setup, Now now = Clock::now);

    // Text waits to go out: starts the motor if it is stopped, and begins its quiet time again.
    void Start();
    // Whether codes may go out: there is no motor, or it has run its start time.
    bool UpToSpeed() const;
    // Something went out or came in: the quiet time begins again.
    void KeepRunning();
    // When the loop has to look again for the motor's sake, if ever: when it comes up to speed
    // while text `waiting` for it, else when its quiet time is over, or, while it is stopped,
    // when its line is to be looked at again.
    std::optional<Clock::time_point> NextLook(bool waiting) const;
    // Stops the motor once its quiet time is over, unless the driver still holds codes to send:
    // then it looks again a second later. While it is stopped, drops its line again where
    // something else raised it.
    void StopIfIdle();
    // Stops the motor now (at the start with nothing to send, and at the end).
    void Stop();

  private:
    void Switch(bool on);
    // Whether the driver reports the motor's line up.
    bool LineUp() const;

    std::uint8_t line_;
    Clock::duration start_, idle_;
    serial::SerialDriver* driver_;
    os::StatusOutput* notices_;
    Now now_;
    bool running_ = false;
    bool failureSaid_ = false;
    Clock::time_point upToSpeedAt_{}, quietSince_{};
    Clock::time_point lookedAt_{};  // the stopped motor's line, last
};

}  // namespace bridge
