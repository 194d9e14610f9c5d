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
#include <string_view>
#include <utility>
#include <vector>

#include "bridge/Baudot.h"
#include "bridge/Motor.h"
#include "bridge/Spool.h"
#include "os/CLocale.h"

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
    // Writes what `fd` takes now, adding it to `taken` where given. Returns 0, or the errno of a
    // failure other than a full queue.
    int WriteTo(int fd, std::deque<Code>* taken = nullptr) {
        while (!Empty()) {
            const ssize_t written = ::write(fd, bytes_.data() + done_, bytes_.size() - done_);
            if (written < 0) {
                if (errno == EINTR)
                    continue;
                return errno == EAGAIN ? 0 : errno;
            }
            if (taken != nullptr)
                taken->insert(taken->end(), bytes_.begin() + static_cast<std::ptrdiff_t>(done_),
                              bytes_.begin() + static_cast<std::ptrdiff_t>(done_) + written);
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

// Takes the time left off the terminal's line: back to its start, and cleared to the end.
constexpr char kEraseLine[] = "\r\033[K";

// PARMRK's mark: \377 \0 \0 is a break, \377 \377 a \377 received, \377 \0 X an X received
// with a parity or framing error.
constexpr Code kMark = 0xFF;

// An end that poll() reports as failed or hung up, whatever was asked of it.
constexpr short kFailed = POLLERR | POLLHUP | POLLNVAL;

enum { kStop, kPort, kTerminal, kSpool, kEnds };

// How long a line left half typed holds a spooled job back after its last key.
constexpr std::chrono::seconds kLineLeftOpen{60};
// How often the end of a job looks whether the transmitter has emptied, at most: a job is known
// to have printed within this much of its last stop bit.
constexpr std::chrono::milliseconds kEmptyLook{100};
// The shortest wait for the driver's queue to empty: a look for every code would spin.
constexpr std::chrono::milliseconds kShortestLook{10};
// The job's text is measured in pieces of this size: its codes are counted, not kept.
constexpr std::size_t kMeasured = 64 * 1024;

// A job being printed, whose whole is known from its start: its characters and codes are
// counted by a fresh encoder before any goes out.
struct Job {
    std::string name;  // for the user; empty for --print's
    std::string_view text;
    std::size_t taken = 0;       // bytes of it given to the encoder
    std::size_t before = 0;      // the encoder's characters before it began
    std::size_t characters = 0;  // its whole, as the encoder counts them
    std::size_t codes = 0;       // and its codes
    std::size_t encoded = 0;     // codes of it made so far
};

// RunPump's state, and the steps of its loop.
class Pump {
  public:
    Pump(const PumpSetup& setup, Counts& counts)
        : setup_(setup),
          counts_(counts),
          encoder_(*setup.codeSet, setup.crFill, setup.unshiftOnSpace, setup.columns,
                   setup.newline),
          decoder_(*setup.codeSet, setup.unshiftOnSpace),
          pattern_(!setup.pattern.empty()),
          motor_(setup) {}

    Ending Run();

  private:
    // Starts the spool's next job, unless something else goes out, or a line is being typed.
    void StartSpooledJob();
    // Starts printing `text`: its characters and codes are counted first.
    void BeginJob(std::string name, std::string_view text);
    // Gives the encoder the job's next piece, where nothing else waits for the port.
    void FeedJob();
    // Whether all of the job has been written to the driver.
    bool HandedOver() const;
    // Whether the job's last code has left the line; if not, when to look again is set.
    bool JobLeftTheLine();
    // A job has printed: --print's ends the loop, the spool's is taken out of its folder.
    std::optional<Ending> EndJob();
    // Asks each end for what may be moved now and sleeps until one has it, or until the motor
    // or the time left is due. The poll's result.
    int Poll(pollfd (&ends)[kEnds], bool waiting, bool ready);
    // Text waits: the motor is started if it is stopped. Whether codes may go out.
    bool StartMotor();
    // A signal came: Ctrl+C throws away what the driver holds, SIGTERM and SIGHUP let it go.
    Ending Stop();
    // Reads what the port received and passes it on as text; false when the port went away.
    bool ReadPort();
    // Decodes received codes into text_, the marks taken out; whether a break was among them.
    bool Decode(const Code* received, std::size_t size);
    // On a half-duplex loop: whether `code` is the next of the bridge's own codes coming back,
    // which is then followed and dropped. A code that is not ends the matching.
    bool Echoed(Code code);
    // A break from the line: what waits to be sent is thrown away, once for each break.
    void Break();
    // Before received text goes to the terminal: what it would echo goes nowhere.
    void KeepEchoOff();
    // Reads what the terminal typed into codes for the port; false when it went away.
    bool ReadTerminal();
    // Adds the codes of `text` to what waits for the port; `last`: the text ends there, and
    // what the encoder holds back goes too.
    void Encode(std::string_view text, bool last = false);
    // Writes what waits for the port once the motor is up to speed; false when the port failed.
    bool WritePort();
    // Codes written to the port that its driver still holds.
    std::size_t Queued() const;
    // Throws away what the port's driver holds; how much that was (none where it would not).
    std::size_t FlushPort();
    // Whether the time left is followed: it is shown, or text was typed since nothing waited.
    bool FollowsProgress() const;
    // The time left, while more than kShownAfter of text waits; rewritten at most once a second.
    void ShowProgress();
    void EraseProgress();
    // Says what the loop had to do, where notices are said.
    void Say(const std::string& line);
    // Sends what waits of the notices as far as their reader takes it now.
    void FlushNotices();
    // Waits until the driver has sent what it holds, for as long as that takes at the line's
    // rate and a little more; false when a stop signal came meanwhile.
    bool Drain();
    // Ends the loop: `unsent` codes (those the driver still holds when they are flushed, or when
    // the port went away) and the ones still here never leave, nor do the characters they
    // belong to.
    Ending Finish(Ending ending, std::size_t unsent = 0);

    const PumpSetup& setup_;
    Counts& counts_;
    Encoder encoder_;
    Decoder decoder_;
    const bool pattern_;
    Motor motor_;
    Pending toPort_, toTerminal_;
    RecentCharacters recent_;
    std::deque<Code> echoes_;       // codes written on a half-duplex loop that have not come back
    std::size_t thrownBefore_ = 0;  // by a break from the line, while the bridge went on
    std::vector<Code> codes_;
    std::string text_;
    bool echoSaid_ = false, echoFailureSaid_ = false, flushFailureSaid_ = false;
    std::size_t burst_ = 0;  // characters taken since nothing waited
    bool shown_ = false;     // the time left is on the terminal's line
    Clock::time_point shownAt_{};
    int marked_ = 0;        // bytes of a mark seen so far
    bool inBreak_ = false;  // marks come until the line is closed again: one break
    std::optional<Job> job_;
    std::optional<SpoolJob> spooled_;  // the spool's file behind job_, which holds its text
    bool spoolLook_ = true;            // a spooled job may be ready
    Clock::time_point typedAt_{};      // the last key from the terminal
    bool jobBroken_ = false;           // a break from the line stopped --print's job
    // The job has all gone to the driver: when to look whether it has left the line.
    std::optional<Clock::time_point> endLook_;
    std::optional<Clock::time_point> emptySince_;  // the driver's queue read empty, and was not
                                                   // told whether the transmitter is
};

void Pump::StartSpooledJob() {
    if (setup_.spool == nullptr || job_ || !spoolLook_ || !toPort_.Empty())
        return;
    // A line being typed is finished first, for as long as its typist keeps at it.
    const bool lineOpen = encoder_.Column() != 0;
    if (lineOpen && Clock::now() - typedAt_ < kLineLeftOpen)
        return;
    spooled_ = setup_.spool->Next([this](const std::string& line) { Say(line); });
    if (!spooled_) {
        spoolLook_ = false;  // until the folder changes
        return;
    }
    if (lineOpen)
        Encode("\r\n");  // the job begins on a line of its own
    BeginJob(ShownName(spooled_->name), spooled_->text);
    Say(os::FormatC("quorlix: spool: printing %s (%zu characters)", job_->name.c_str(),
                    job_->characters));
}

void Pump::BeginJob(std::string name, std::string_view text) {
    Encoder measure(*setup_.codeSet, setup_.crFill, setup_.unshiftOnSpace, setup_.columns,
                    setup_.newline);
    std::size_t codes = 0;
    for (std::size_t at = 0; at < text.size(); at += kMeasured) {
        codes_.clear();
        measure.Put(text.substr(at, kMeasured), codes_);
        codes += codes_.size();
    }
    codes_.clear();
    measure.Finish(codes_);
    codes += codes_.size();
    job_ = Job{std::move(name), text, 0, encoder_.Characters(), measure.Characters(), codes};
    if (setup_.print != nullptr)
        counts_.job = job_->characters;
    endLook_.reset();
    emptySince_.reset();
}

void Pump::FeedJob() {
    if (!job_ || job_->taken == job_->text.size() || !toPort_.Empty())
        return;
    const std::string_view piece = job_->text.substr(job_->taken, kChunk);
    job_->taken += piece.size();
    Encode(piece, job_->taken == job_->text.size());
}

bool Pump::HandedOver() const {
    return job_ && job_->taken == job_->text.size() && toPort_.Empty();
}

bool Pump::JobLeftTheLine() {
    if (!HandedOver())
        return false;
    const Clock::time_point now = Clock::now();
    const auto codes = [&](double count) {
        return std::chrono::ceil<Clock::duration>(
            std::chrono::duration<double>(setup_.codeSeconds * count));
    };
    // Looked at again when the last code, or the last hundredth of a long queue, should be
    // left: a line a hair faster than its rate says is not waited for long after a long queue.
    if (const std::size_t queued = Queued(); queued > 0) {
        const std::size_t early = queued > 1 ? std::max<std::size_t>(1, queued / 100) : 0;
        endLook_ = now + std::max<Clock::duration>(codes(static_cast<double>(queued - early)),
                                                   kShortestLook);
        emptySince_.reset();
        return false;
    }
    bool empty = false;
    const int told = setup_.driver != nullptr ? setup_.driver->GetTransmitterEmpty(empty) : ENOTTY;
    if (told == 0) {
        if (empty)
            return true;
        // The FIFO and the shift register still send: a code's time at most each.
        endLook_ = now + std::min<Clock::duration>(codes(1), kEmptyLook);
        return false;
    }
    // Not told: the last code is on the line for a code's time after the queue read empty.
    if (!emptySince_)
        emptySince_ = now;
    if (now - *emptySince_ >= codes(1))
        return true;
    endLook_ = *emptySince_ + codes(1);
    return false;
}

std::optional<Ending> Pump::EndJob() {
    job_.reset();
    endLook_.reset();
    EraseProgress();
    if (setup_.print != nullptr) {
        motor_.Stop();
        return Finish(Ending::Printed);
    }
    Say("quorlix: spool: " + ShownName(spooled_->name) + " printed");
    if (const std::string failed = setup_.spool->Remove(*spooled_); !failed.empty())
        Say(failed);
    spooled_.reset();
    spoolLook_ = true;  // the next may wait already
    return std::nullopt;
}

Ending Pump::Run() {
    if (!pattern_)
        motor_.Stop();  // the open raised it: nothing to send yet
    if (setup_.print != nullptr)
        BeginJob({}, *setup_.print);
    for (;;) {
        StartSpooledJob();
        FeedJob();
        if (JobLeftTheLine()) {
            if (const std::optional<Ending> end = EndJob())
                return *end;
        }
        const bool waiting = !toPort_.Empty() || pattern_;
        const bool ready = !waiting || StartMotor();
        pollfd ends[kEnds] = {};
        const int polled = Poll(ends, waiting, ready);
        if (polled < 0) {
            if (errno == EINTR)
                continue;
            return Finish(Ending::PortGone, Queued());
        }
        if (polled == 0) {  // the motor, the time left or a waiting notice is due
            if (!waiting)
                motor_.StopIfIdle();
            ShowProgress();
            FlushNotices();
            continue;
        }
        if (ends[kStop].revents != 0)
            return Stop();
        if ((ends[kSpool].revents & POLLIN) && setup_.spool->Take())
            spoolLook_ = true;
        if (ends[kPort].revents & kFailed)
            return Finish(Ending::PortGone, Queued());
        // Reported whatever was asked for, and again on every poll: without this it would spin.
        if (ends[kTerminal].revents & kFailed) {
            motor_.Stop();
            return Finish(Ending::TerminalGone);
        }
        if ((ends[kPort].revents & POLLIN) && !ReadPort())
            return Finish(Ending::PortGone, Queued());
        if (jobBroken_) {
            motor_.Stop();
            EraseProgress();
            return Finish(Ending::Broken);
        }
        if ((ends[kTerminal].revents & POLLIN) && !ReadTerminal())
            return Finish(Ending::TerminalGone);
        if (pattern_ && ready && toPort_.Empty() && (ends[kPort].revents & POLLOUT))
            Encode(setup_.pattern);
        if (!WritePort())
            return Finish(Ending::PortGone, Queued());
        if (toTerminal_.WriteTo(setup_.terminal) != 0)
            toTerminal_.Clear();  // the terminal side cannot fail while this side holds it open
        ShowProgress();
        FlushNotices();
    }
}

void Pump::FlushNotices() {
    if (setup_.notices != nullptr && setup_.notices->Waiting())
        setup_.notices->Flush();
}

int Pump::Poll(pollfd (&ends)[kEnds], bool waiting, bool ready) {
    ends[kStop] = {setup_.stop, POLLIN, 0};
    // Each side is read only while what came from it before has gone on: a full side holds
    // the other back instead of piling text up here.
    ends[kPort].fd = setup_.port;
    ends[kPort].events =
        static_cast<short>((toTerminal_.Empty() ? POLLIN : 0) | (waiting && ready ? POLLOUT : 0));
    ends[kSpool] = {setup_.spool != nullptr ? setup_.spool->Fd() : -1, POLLIN, 0};
    ends[kTerminal].fd = setup_.terminal;
    ends[kTerminal].events = static_cast<short>(
        (toPort_.Empty() && !pattern_ && !job_ ? POLLIN : 0) | (toTerminal_.Empty() ? 0 : POLLOUT));
    int timeout = -1;  // idle: asleep until something comes
    const auto lookAt = [&](std::optional<Clock::time_point> look) {
        if (!look)
            return;
        const int until = static_cast<int>(std::max<long long>(
            0, std::chrono::ceil<std::chrono::milliseconds>(*look - Clock::now()).count()));
        timeout = timeout < 0 ? until : std::min(timeout, until);
    };
    lookAt(motor_.NextLook(waiting));
    if (HandedOver())
        lookAt(endLook_);
    // A job waits for the line being typed: once it has been left long enough, it goes.
    if (setup_.spool != nullptr && spoolLook_ && !job_ && encoder_.Column() != 0)
        lookAt(typedAt_ + kLineLeftOpen);
    // While the time left is shown, or text may still wait in the driver, or a notice for a
    // terminal that takes nothing now: a look a second.
    const bool noticesWait = setup_.notices != nullptr && setup_.notices->Waiting();
    if ((FollowsProgress() || noticesWait) && (timeout < 0 || timeout > 1000))
        timeout = 1000;
    return poll(ends, kEnds, timeout);
}

bool Pump::StartMotor() {
    motor_.Start();
    return motor_.UpToSpeed();
}

Ending Pump::Stop() {
    unsigned char signal = 0;
    // The motor runs until the driver has sent what it holds, unless Ctrl+C, or a second stop
    // signal while it sends, throws that away: minutes of text may wait in the driver at six
    // characters a second.
    if (::read(setup_.stop, &signal, 1) == 1)
        counts_.signal = signal;
    if (signal == SIGINT || !Drain()) {
        const std::size_t queued = FlushPort();
        motor_.Stop();
        EraseProgress();
        return Finish(Ending::Interrupted, queued);
    }
    motor_.Stop();
    EraseProgress();
    return Finish(Ending::Terminated);
}

bool Pump::ReadPort() {
    motor_.KeepRunning();
    Code received[kChunk];
    const ssize_t size = ::read(setup_.port, received, sizeof received);
    if (size == 0 || (size < 0 && errno != EAGAIN && errno != EINTR))
        return false;
    text_.clear();
    if (Decode(received, size > 0 ? static_cast<std::size_t>(size) : 0))
        Break();
    if (setup_.terminal < 0)
        return true;  // printing: what the machine sends goes nowhere
    KeepEchoOff();
    toTerminal_.Add(text_.data(), text_.size());
    return true;
}

bool Pump::Decode(const Code* received, std::size_t size) {
    bool broke = false;
    for (std::size_t i = 0; i < size; ++i) {
        const Code code = received[i];
        if (setup_.breaksMarked && (marked_ > 0 || code == kMark)) {
            ++marked_;
            if (marked_ == 2 && code == kMark) {
                marked_ = 0;
                decoder_.Put(code, text_);
            } else if (marked_ == 3) {
                marked_ = 0;
                broke |= code == 0;
                if (code != 0)
                    decoder_.Put(code, text_);
            }
            continue;
        }
        inBreak_ = false;
        if (!Echoed(code))
            decoder_.Put(code, text_);
    }
    return broke;
}

bool Pump::Echoed(Code code) {
    if (echoes_.empty())
        return false;
    if ((code & kCodeMask) != (echoes_.front() & kCodeMask)) {
        echoes_.clear();  // the keyboard's: nothing of ours comes back in order after it
        return false;
    }
    echoes_.pop_front();
    decoder_.Follow(code);  // the printer saw it: its shift is the machine's
    return true;
}

void Pump::Break() {
    if (std::exchange(inBreak_, true))
        return;
    // The operator's BREAK key opened the loop: what waits is thrown away, as Ctrl+C throws it
    // away, and the bridge goes on.
    const std::size_t thrown = recent_.In(FlushPort() + toPort_.Size()) + encoder_.Held();
    toPort_.Clear();
    echoes_.clear();  // the loop opened: what was on it is gone
    encoder_.DropHeld();
    recent_ = RecentCharacters();
    thrownBefore_ += thrown;
    if (setup_.print != nullptr) {
        jobBroken_ = true;  // the machine's operator stopped the job: said at the end
        return;
    }
    if (spooled_) {  // the job is thrown away whole: the others wait their turn
        const std::size_t taken = encoder_.Characters() - job_->before;
        Say(
            os::FormatC("quorlix: break from the line: the spool's job %s thrown away after %zu of "
                        "%zu characters",
                        job_->name.c_str(), taken - std::min(taken, thrown), job_->characters));
        if (const std::string failed = setup_.spool->Remove(*spooled_); !failed.empty())
            Say(failed);
        job_.reset();
        spooled_.reset();
        endLook_.reset();
        spoolLook_ = true;
        return;
    }
    Say(os::FormatC("quorlix: break from the line: %zu characters thrown away", thrown));
}

void Pump::KeepEchoOff() {
    termios2 termios{};
    if (ioctl(setup_.terminal, TCGETS2, &termios) != 0 || (termios.c_lflag & ECHO) == 0)
        return;
    termios.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL);
    const bool off = ioctl(setup_.terminal, TCSETS2, &termios) == 0;
    const int error = errno;
    if (off && !std::exchange(echoSaid_, true)) {
        Say("quorlix: the terminal program turned echo on in the pseudo-terminal, which would "
            "send all it receives back to the line: turned off again");
    } else if (!off && !std::exchange(echoFailureSaid_, true)) {
        Say("quorlix: the terminal program turned echo on in the pseudo-terminal, and it could "
            "not be turned off (" +
            std::string(std::strerror(error)) + "): all it receives goes back to the line");
    }
}

bool Pump::ReadTerminal() {
    char typed[kChunk];
    const ssize_t size = ::read(setup_.terminal, typed, sizeof typed);
    if (size == 0 || (size < 0 && errno != EAGAIN && errno != EINTR))
        return false;
    const std::size_t before = encoder_.Characters();
    typedAt_ = Clock::now();
    Encode(std::string_view(typed, size > 0 ? static_cast<std::size_t>(size) : 0));
    burst_ += encoder_.Characters() - before;
    return true;
}

void Pump::Encode(std::string_view text, bool last) {
    codes_.clear();
    encoder_.Put(text, codes_);
    if (last)
        encoder_.Finish(codes_);
    for (const std::size_t size : encoder_.TakeSizes())
        recent_.Add(size);
    toPort_.Add(reinterpret_cast<const char*>(codes_.data()), codes_.size());
    if (job_)
        job_->encoded += codes_.size();
}

bool Pump::WritePort() {
    if (toPort_.Empty() || !StartMotor())
        return true;
    if (toPort_.WriteTo(setup_.port, setup_.halfDuplex ? &echoes_ : nullptr) != 0)
        return false;
    // A line that does not loop back after all brings nothing back: remember no more than a
    // driver could hold.
    if (echoes_.size() > kRemembered)
        echoes_.erase(echoes_.begin(), echoes_.end() - kRemembered);
    return true;
}

std::size_t Pump::Queued() const {
    int queued = 0;
    return setup_.driver != nullptr && setup_.driver->GetOutputQueue(queued) == 0 && queued > 0
               ? static_cast<std::size_t>(queued)
               : 0;
}

std::size_t Pump::FlushPort() {
    // What the driver held is asked first: that much is what the flush throws away.
    const std::size_t queued = Queued();
    if (ioctl(setup_.port, TCFLSH, TCOFLUSH) == 0)
        return queued;
    const int error = errno;
    // Nothing was thrown away: it all still goes out, and counts as sent.
    if (!std::exchange(flushFailureSaid_, true)) {
        Say(std::string("quorlix: the port's driver would not throw away what it holds (") +
            std::strerror(error) + "): it still goes out");
    }
    return 0;
}

bool Pump::FollowsProgress() const {
    return setup_.progress && setup_.notices != nullptr && !pattern_ &&
           (shown_ || burst_ > 0 || job_);
}

void Pump::ShowProgress() {
    // Nothing typed since nothing waited, and nothing shown: nothing to ask the driver.
    if (!FollowsProgress())
        return;
    std::size_t codesLeft = Queued() + toPort_.Size();
    const std::size_t left = recent_.In(codesLeft) + encoder_.Held();
    if (job_)  // and the codes not made yet, as counted at its start
        codesLeft += job_->codes - std::min(job_->codes, job_->encoded);
    const double seconds = setup_.codeSeconds * static_cast<double>(codesLeft);
    if (codesLeft == 0)
        burst_ = 0;
    const Clock::time_point now = Clock::now();
    if (seconds <= kShownAfter) {
        EraseProgress();
    } else if (!shown_ || now - shownAt_ >= std::chrono::seconds(1)) {
        if (job_) {
            const std::size_t taken = encoder_.Characters() - job_->before;
            setup_.notices->Text(kEraseLine + PrintingText(job_->name,
                                                           taken - std::min(taken, left),
                                                           job_->characters, seconds));
        } else {
            setup_.notices->Text(kEraseLine +
                                 TimeLeftText(burst_ - std::min(burst_, left), left, seconds));
        }
        shown_ = true;
        shownAt_ = now;
    }
}

void Pump::EraseProgress() {
    if (std::exchange(shown_, false))
        setup_.notices->Text(kEraseLine);
}

void Pump::Say(const std::string& line) {
    if (setup_.notices != nullptr)
        setup_.notices->Line(line);
}

bool Pump::Drain() {
    const std::chrono::duration<double> longest(setup_.codeSeconds * static_cast<double>(Queued()) +
                                                2);
    const Clock::time_point limit = Clock::now() + std::chrono::ceil<Clock::duration>(longest);
    while (Queued() > 0 && Clock::now() < limit) {
        pollfd stop{setup_.stop, POLLIN, 0};
        unsigned char signal = 0;
        if (poll(&stop, 1, 20) > 0 && ::read(setup_.stop, &signal, 1) == 1)
            return false;
    }
    return true;
}

Ending Pump::Finish(Ending ending, std::size_t unsent) {
    const std::size_t thrownAway =
        thrownBefore_ + recent_.In(unsent + toPort_.Size()) + encoder_.Held();
    counts_.sent += encoder_.Characters() - thrownAway;
    counts_.thrownAway += thrownAway;
    counts_.received += decoder_.Characters();
    counts_.unprintable += encoder_.Unprintable() + decoder_.Unprintable();
    counts_.dropped += encoder_.Dropped();
    if (spooled_) {
        Say("quorlix: spool: " + ShownName(spooled_->name) +
            " was not printed whole: it stays in the spool, to be printed again");
    }
    return ending;
}

}  // namespace

double CodeSeconds(double rate, int dataBits, bool parity, double stopBits) {
    return (1 + dataBits + (parity ? 1 : 0) + stopBits) / rate;
}

namespace {

// "23 min 05 s", or "45 s": whole seconds, rounded up.
std::string Duration(double seconds) {
    const long whole = std::lround(std::ceil(seconds));
    return whole >= 60 ? os::FormatC("%ld min %02ld s", whole / 60, whole % 60)
                       : os::FormatC("%ld s", whole);
}

}  // namespace

std::string TimeLeftText(std::size_t sent, std::size_t waiting, double seconds) {
    return os::FormatC("sending: %zu sent, %zu waiting, %s for those", sent, waiting,
                       Duration(seconds).c_str());
}

std::string PrintingText(std::string_view name, std::size_t printed, std::size_t total,
                         double seconds) {
    return os::FormatC("printing%s%.*s: %zu of %zu characters, %s left", name.empty() ? "" : " ",
                       static_cast<int>(name.size()), name.data(), printed, total,
                       Duration(seconds).c_str());
}

Ending RunPump(const PumpSetup& setup, Counts& counts) {
    return Pump(setup, counts).Run();
}

}  // namespace bridge
