// SPDX-License-Identifier: GPL-3.0-or-later
#include "bridge/Pump.h"

#include <asm/ioctls.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <optional>
#include <thread>
#include <vector>

#include "bridge/Baudot.h"

namespace bridge {

void MakeRaw(termios2& termios) {
    termios.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR |
                                              ICRNL | IUCLC | IXON | IXANY | IXOFF | IMAXBEL);
    termios.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    termios.c_lflag &=
        ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
    termios.c_cflag |= CREAD | CLOCAL;
    termios.c_cc[VMIN] = 1;
    termios.c_cc[VTIME] = 0;
}

std::unique_ptr<PseudoTerminal> PseudoTerminal::Open(std::string& error) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0) {
        error = std::string("no pseudo-terminal to be had: ") + std::strerror(errno);
        return nullptr;
    }
    std::unique_ptr<PseudoTerminal> pty(new PseudoTerminal(master));
    const auto fail = [&](const char* step, int number) {
        error =
            std::string("the pseudo-terminal failed (") + step + ": " + std::strerror(number) + ")";
        return nullptr;
    };
    if (grantpt(master) != 0 || unlockpt(master) != 0)
        return fail("unlock", errno);
    char path[PATH_MAX];
    if (const int failure = ptsname_r(master, path, sizeof path); failure != 0)
        return fail("name", failure);
    pty->path_ = path;
    pty->slave_ = ::open(path, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (pty->slave_ < 0)
        return fail("open", errno);
    termios2 termios{};
    if (ioctl(pty->slave_, TCGETS2, &termios) != 0)
        return fail("settings", errno);
    MakeRaw(termios);
    if (ioctl(pty->slave_, TCSETS2, &termios) != 0)
        return fail("raw mode", errno);
    if (fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK) != 0)
        return fail("non-blocking", errno);
    return pty;
}

PseudoTerminal::~PseudoTerminal() {
    if (slave_ >= 0)
        ::close(slave_);
    ::close(master_);
}

namespace {

constexpr std::size_t kChunk = 256;  // bytes taken from either side at a time
// Codes whose characters are remembered: far more than any serial driver queues.
constexpr std::size_t kRemembered = 1 << 16;

// Bytes that a descriptor has not taken yet.
class Pending {
  public:
    bool Empty() const { return done_ == bytes_.size(); }
    std::size_t Size() const { return bytes_.size() - done_; }
    void Add(const char* data, std::size_t size) { bytes_.append(data, size); }
    void Clear() {
        bytes_.clear();
        done_ = 0;
    }
    // Writes what `fd` takes now. Returns 0, or the errno of a failure other than a full queue.
    int WriteTo(int fd) {
        while (!Empty()) {
            const ssize_t written = ::write(fd, bytes_.data() + done_, bytes_.size() - done_);
            if (written < 0) {
                if (errno == EINTR)
                    continue;
                return errno == EAGAIN ? 0 : errno;
            }
            done_ += static_cast<std::size_t>(written);
        }
        Clear();
        return 0;
    }

  private:
    std::string bytes_;
    std::size_t done_ = 0;
};

// How many codes each of the last characters took, so that codes which never left can be
// counted back as characters.
class RecentCharacters {
  public:
    void Add(std::size_t codes) {
        sizes_.push_back(codes);
        total_ += codes;
        while (total_ - sizes_.front() >= kRemembered) {
            total_ -= sizes_.front();
            sizes_.pop_front();
        }
    }
    // The characters that the last `codes` codes belong to, wholly or in part.
    std::size_t In(std::size_t codes) const {
        std::size_t characters = 0;
        for (auto size = sizes_.rbegin(); size != sizes_.rend() && codes > 0; ++size) {
            codes -= std::min(codes, *size);
            ++characters;
        }
        return characters;
    }

  private:
    std::deque<std::size_t> sizes_;
    std::size_t total_ = 0;
};

// Codes written to `port` that its driver still holds.
std::size_t Queued(int port) {
    int queued = 0;
    return ioctl(port, TIOCOUTQ, &queued) == 0 && queued > 0 ? static_cast<std::size_t>(queued) : 0;
}

using Clock = std::chrono::steady_clock;

std::chrono::milliseconds Milliseconds(double seconds) {
    return std::chrono::milliseconds(std::llround(seconds * 1000));
}

// The machine's motor on a modem line, switched through the interface's relay.
class Motor {
  public:
    explicit Motor(const PumpSetup& setup)
        : driver_(setup.modemLines),
          line_(setup.motor),
          start_(Milliseconds(setup.motorStart)),
          idle_(Milliseconds(setup.motorIdle)) {}

    // Text waits to go out: the motor is started if it is off. Whether codes may go out now.
    bool Ready(Clock::time_point now) {
        if (line_ == 0)
            return true;
        if (!up_) {
            Set(true);
            readyAt_ = now + start_;
        }
        quietSince_ = now;
        return now >= readyAt_;
    }
    // Something went out or came in.
    void Active(Clock::time_point now) { quietSince_ = now; }
    // When the loop has to look again for the motor's sake, if ever.
    std::optional<Clock::time_point> Due(bool waiting, Clock::time_point now) const {
        if (line_ == 0 || !up_ || (waiting && now >= readyAt_))
            return std::nullopt;
        return waiting ? readyAt_ : quietSince_ + idle_;
    }
    // Its idle time is over: off, unless the driver still holds codes to send (then it looks
    // again in a second).
    void Idle(Clock::time_point now, std::size_t queued) {
        if (!up_ || now < quietSince_ + idle_)
            return;
        if (queued > 0) {
            quietSince_ = now - idle_ + std::min<Clock::duration>(idle_, std::chrono::seconds(1));
            return;
        }
        Set(false);
    }
    void Off() {
        if (line_ != 0)
            Set(false);
    }

  private:
    void Set(bool up) {
        if (driver_ != nullptr)
            up ? driver_->RaiseModemLines(line_) : driver_->DropModemLines(line_);
        up_ = up;
    }

    serial::SerialDriver* driver_;
    int line_;
    Clock::duration start_, idle_;
    bool up_ = true;  // the open raised it
    Clock::time_point readyAt_{}, quietSince_{};
};

}  // namespace

double CodeSeconds(double rate, int dataBits, bool parity, double stopBits) {
    return (1 + dataBits + (parity ? 1 : 0) + stopBits) / rate;
}

std::string TimeLeftText(std::size_t sent, std::size_t total, double seconds) {
    const long whole = std::lround(std::ceil(seconds));
    char left[32];
    if (whole >= 60)
        std::snprintf(left, sizeof left, "%ld min %ld s", whole / 60, whole % 60);
    else
        std::snprintf(left, sizeof left, "%ld s", whole);
    char text[96];
    std::snprintf(text, sizeof text, "sending: %zu of %zu characters, %s left", sent, total, left);
    return text;
}

Ending RunPump(const PumpSetup& setup, Counts& counts) {
    Encoder encoder(*setup.codeSet, setup.crFill, setup.unshiftOnSpace, setup.columns);
    Decoder decoder(*setup.codeSet, setup.unshiftOnSpace);
    Pending toPort, toTerminal;
    RecentCharacters recent;
    // Ends the loop; `unsent` codes (those the driver still holds when they are flushed, or
    // when the port went away) and the ones still here never leave, nor do the characters they
    // belong to.
    std::size_t thrownBefore = 0;  // by a break from the line, while the bridge went on
    const auto finish = [&](Ending ending, std::size_t unsent = 0) {
        const std::size_t thrownAway =
            thrownBefore + recent.In(unsent + toPort.Size()) + encoder.Held();
        counts.sent += encoder.Characters() - thrownAway;
        counts.thrownAway += thrownAway;
        counts.received += decoder.Characters();
        counts.unprintable += encoder.Unprintable() + decoder.Unprintable();
        return ending;
    };
    std::vector<Code> codes;
    const auto encode = [&](unsigned char byte) {
        encoder.Put(byte, codes);
        for (const std::size_t size : encoder.TakeSizes())
            recent.Add(size);
    };
    const bool pattern = !setup.pattern.empty();
    bool echoSaid = false;
    // Before received text goes to the terminal: what it would echo goes nowhere.
    const auto keepEchoOff = [&] {
        termios2 termios{};
        if (ioctl(setup.terminal, TCGETS2, &termios) != 0 || (termios.c_lflag & ECHO) == 0)
            return;
        termios.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL);
        ioctl(setup.terminal, TCSETS2, &termios);
        if (!echoSaid && setup.notices != nullptr) {
            std::fputs(
                "quorlix: the terminal program turned echo on in the pseudo-terminal, which "
                "would send all it receives back to the line: turned off again\n",
                setup.notices);
            std::fflush(setup.notices);
        }
        echoSaid = true;
    };
    // What the port's driver holds is thrown away (Ctrl+C, a break from the line): what it held
    // is asked first, as that much is what the flush throws away.
    const auto flushPort = [&] {
        const std::size_t queued = Queued(setup.port);
        ioctl(setup.port, TCFLSH, TCOFLUSH);
        return queued;
    };
    // The time left, while more than kShownAfter of text waits; rewritten at most once a second.
    std::size_t burst = 0;  // characters taken since nothing waited
    bool shown = false;
    Clock::time_point shownAt{};
    const auto showProgress = [&](Clock::time_point now) {
        // Nothing typed since nothing waited, and nothing shown: nothing to ask the driver.
        if (setup.progress == nullptr || pattern || (burst == 0 && !shown))
            return;
        const std::size_t codesLeft = Queued(setup.port) + toPort.Size();
        const std::size_t left = recent.In(codesLeft) + encoder.Held();
        const double seconds = setup.codeSeconds * static_cast<double>(codesLeft);
        if (codesLeft == 0)
            burst = 0;
        if (seconds <= kShownAfter) {
            if (shown)
                std::fputs("\r\033[K", setup.progress);
            shown = false;
        } else if (!shown || now - shownAt >= std::chrono::seconds(1)) {
            std::fprintf(setup.progress, "\r\033[K%s",
                         TimeLeftText(burst - std::min(burst, left), burst, seconds).c_str());
            shown = true;
            shownAt = now;
        }
        std::fflush(setup.progress);
    };
    // A received break: \377 \0 \0 where PARMRK marks one; \377 \377 is a \377 received.
    int marked = 0;        // bytes of a mark seen so far
    bool inBreak = false;  // marks come until the line is closed again: one break
    Motor motor(setup);
    if (!pattern)
        motor.Off();  // the open raised it: nothing to send yet
    // After SIGTERM or SIGHUP the motor runs until the driver has sent what it holds, for as
    // long as that takes at the line's rate and a little more.
    const auto drainThenStop = [&] {
        const auto limit =
            Clock::now() +
            Milliseconds(setup.codeSeconds * static_cast<double>(Queued(setup.port)) + 2);
        while (Queued(setup.port) > 0 && Clock::now() < limit)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        motor.Off();
    };
    std::string text;
    enum { kStop, kPort, kTerminal, kEnds };
    for (;;) {
        const Clock::time_point now = Clock::now();
        const bool waiting = !toPort.Empty() || pattern;
        const bool ready = !waiting || motor.Ready(now);
        pollfd ends[kEnds] = {};
        ends[kStop] = {setup.stop, POLLIN, 0};
        // Each side is read only while what came from it before has gone on: a full side holds
        // the other back instead of piling text up here.
        ends[kPort].fd = setup.port;
        ends[kPort].events = static_cast<short>((toTerminal.Empty() ? POLLIN : 0) |
                                                (waiting && ready ? POLLOUT : 0));
        ends[kTerminal].fd = setup.terminal;
        ends[kTerminal].events = static_cast<short>((toPort.Empty() && !pattern ? POLLIN : 0) |
                                                    (toTerminal.Empty() ? 0 : POLLOUT));
        int timeout = -1;  // idle: asleep until something comes
        if (const std::optional<Clock::time_point> due = motor.Due(waiting, now)) {
            timeout = static_cast<int>(std::max<long long>(
                0, std::chrono::ceil<std::chrono::milliseconds>(*due - now).count()));
        }
        // While the time left is shown, or text may still wait in the driver: a look a second.
        if (setup.progress != nullptr && !pattern && (shown || burst > 0) &&
            (timeout < 0 || timeout > 1000))
            timeout = 1000;
        const int polled = poll(ends, kEnds, timeout);
        if (polled < 0) {
            if (errno == EINTR)
                continue;
            return finish(Ending::PortGone, Queued(setup.port));
        }
        if (polled == 0) {
            if (!waiting)
                motor.Idle(Clock::now(), Queued(setup.port));
            showProgress(Clock::now());
            continue;
        }
        if (ends[kStop].revents != 0) {
            unsigned char signal = 0;
            if (::read(setup.stop, &signal, 1) == 1 && signal == SIGINT) {
                // Minutes of text may wait in the driver at six characters a second. What it
                // holds is asked first: that much is what the flush throws away.
                const std::size_t queued = flushPort();
                motor.Off();
                if (shown)
                    std::fputs("\r\033[K", setup.progress);
                return finish(Ending::Interrupted, queued);
            }
            drainThenStop();
            if (shown)
                std::fputs("\r\033[K", setup.progress);
            return finish(Ending::Terminated);
        }
        if (ends[kPort].revents & (POLLERR | POLLHUP | POLLNVAL))
            return finish(Ending::PortGone, Queued(setup.port));
        // Reported whatever was asked for, and again on every poll: without this it would spin.
        if (ends[kTerminal].revents & (POLLERR | POLLHUP | POLLNVAL)) {
            motor.Off();
            return finish(Ending::TerminalGone);
        }
        if (ends[kPort].revents & POLLIN) {
            motor.Active(now);
            Code received[kChunk];
            const ssize_t size = ::read(setup.port, received, sizeof received);
            if (size == 0 || (size < 0 && errno != EAGAIN && errno != EINTR))
                return finish(Ending::PortGone, Queued(setup.port));
            text.clear();
            bool broke = false;
            for (ssize_t i = 0; i < size; ++i) {
                const Code code = received[i];
                if (setup.breaksMarked && (marked > 0 || code == 0xFF)) {
                    // \377, then \377 (the byte itself) or \0 and the byte \0 for a break.
                    ++marked;
                    if (marked == 2 && code == 0xFF) {
                        marked = 0;
                        decoder.Put(code, text);
                    } else if (marked == 3) {
                        marked = 0;
                        broke |= code == 0;
                        if (code != 0)
                            decoder.Put(code, text);
                    }
                    continue;
                }
                inBreak = false;
                decoder.Put(code, text);
            }
            if (broke && !inBreak) {
                // The operator's BREAK key opened the loop: what waits is thrown away.
                inBreak = true;
                const std::size_t thrown = recent.In(flushPort() + toPort.Size()) + encoder.Held();
                toPort.Clear();
                encoder.DropHeld();
                recent = RecentCharacters();
                thrownBefore += thrown;
                if (setup.notices != nullptr) {
                    std::fprintf(setup.notices,
                                 "quorlix: break from the line: %zu characters thrown away\n",
                                 thrown);
                    std::fflush(setup.notices);
                }
            }
            keepEchoOff();
            toTerminal.Add(text.data(), text.size());
        }
        if (ends[kTerminal].revents & POLLIN) {
            unsigned char typed[kChunk];
            const ssize_t size = ::read(setup.terminal, typed, sizeof typed);
            if (size == 0 || (size < 0 && errno != EAGAIN && errno != EINTR))
                return finish(Ending::TerminalGone);
            codes.clear();
            const std::size_t before = encoder.Characters();
            for (ssize_t i = 0; i < size; ++i)
                encode(typed[i]);
            burst += encoder.Characters() - before;
            toPort.Add(reinterpret_cast<const char*>(codes.data()), codes.size());
        }
        if (pattern && ready && toPort.Empty() && (ends[kPort].revents & POLLOUT)) {
            codes.clear();
            for (const char c : setup.pattern)
                encode(static_cast<unsigned char>(c));
            toPort.Add(reinterpret_cast<const char*>(codes.data()), codes.size());
        }
        if (!toPort.Empty() && motor.Ready(Clock::now()) && toPort.WriteTo(setup.port) != 0)
            return finish(Ending::PortGone, Queued(setup.port));
        if (toTerminal.WriteTo(setup.terminal) != 0)
            toTerminal.Clear();  // the terminal side cannot fail while this side holds it open
        showProgress(Clock::now());
    }
}

}  // namespace bridge
