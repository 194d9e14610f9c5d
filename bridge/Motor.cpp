// SPDX-License-Identifier: GPL-3.0-or-later
#include "bridge/Motor.h"

#include <sys/ioctl.h>

#include <algorithm>
#include <cmath>
#include <utility>

#include "os/CLocale.h"
#include "uart/LineSettings.h"
#include "uart/Registers.h"

namespace bridge {
namespace {

Clock::duration Milliseconds(double seconds) {
    return std::chrono::milliseconds(std::llround(seconds * 1000));
}

// How often the line of a stopped motor is looked at.
constexpr Clock::duration kStoppedLook = std::chrono::seconds(1);

}  // namespace

Motor::Motor(const PumpSetup& setup, Now now)
    : line_(setup.motor),
      start_(Milliseconds(setup.motorStart)),
      idle_(Milliseconds(setup.motorIdle)),
      driver_(setup.driver),
      notices_(setup.notices),
      now_(std::move(now)) {}

void Motor::Start() {
    if (line_ == 0)
        return;
    const Clock::time_point now = now_();
    if (!running_) {
        Switch(true);
        upToSpeedAt_ = now + start_;
    }
    quietSince_ = now;
}

bool Motor::UpToSpeed() const {
    return line_ == 0 || now_() >= upToSpeedAt_;
}

void Motor::KeepRunning() {
    quietSince_ = now_();
}

std::optional<Clock::time_point> Motor::NextLook(bool waiting) const {
    if (line_ == 0 || (waiting && (!running_ || UpToSpeed())))
        return std::nullopt;
    if (!running_)
        return driver_ != nullptr ? std::optional(lookedAt_ + kStoppedLook) : std::nullopt;
    return waiting ? upToSpeedAt_ : quietSince_ + idle_;
}

void Motor::StopIfIdle() {
    const Clock::time_point now = now_();
    if (line_ == 0)
        return;
    if (!running_) {
        // A refused second bridge, or stty -F, raised it, and the motor would run for nothing.
        if (driver_ != nullptr && now >= lookedAt_ + kStoppedLook) {
            lookedAt_ = now;
            if (LineUp())
                Switch(false);
        }
        return;
    }
    if (now < quietSince_ + idle_)
        return;
    int queued = 0;
    if (driver_ != nullptr && driver_->GetOutputQueue(queued) == 0 && queued > 0) {
        quietSince_ = now - idle_ + std::min<Clock::duration>(idle_, std::chrono::seconds(1));
        return;
    }
    Switch(false);
}

void Motor::Stop() {
    if (line_ != 0)
        Switch(false);
}

bool Motor::LineUp() const {
    int lines = 0;
    return driver_->GetModemLines(lines) == 0 &&
           (lines & (line_ == uart::kMcrDtr ? TIOCM_DTR : TIOCM_RTS)) != 0;
}

void Motor::Switch(bool on) {
    // Marked as switched even when the driver refused: the loop must not try again at once.
    running_ = on;
    lookedAt_ = now_();
    const uart::LineOutcome outcome = uart::ApplyModemLine(line_, on);
    if (!outcome.failed || failureSaid_ || notices_ == nullptr)
        return;
    notices_->Line(os::FormatC("quorlix: the motor's %s could not be %s: %s",
                               line_ == uart::kMcrDtr ? "DTR" : "RTS", on ? "raised" : "dropped",
                               outcome.notice.c_str()));
    failureSaid_ = true;
}

}  // namespace bridge
