// SPDX-License-Identifier: GPL-3.0-or-later
// Measures the bridge's loop with a pty pair standing in for the serial port: the CPU it takes
// while idle, while a user types at the line's own speed and while it sends a test pattern, how
// often it wakes, and the latency from a byte written into the pseudo-terminal to its code at
// the port. The port stand-in is drained at 45.45 Bd, as a teleprinter would take the codes.
// Then --spool's folder while nothing arrives, a --print job as it goes out, and how long after
// its last code --print's loop ends, against one character's time.
//
//   quorlix_bridge_bench [--seconds S] [--samples N]   (defaults 10 and 200; --smoke: 0.5 and 20)
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "PortStandIn.h"
#include "bridge/Baudot.h"
#include "bridge/Pump.h"
#include "bridge/Spool.h"

namespace {

using Clock = std::chrono::steady_clock;

// One character at 45.45 Bd: a start bit, five data bits and 1.5 stop bits.
constexpr double kCharacterSeconds = 7.5 / 45.45;
constexpr double kCpuTargetPercent = 0.5;
constexpr double kLatencyTargetMs = 10.0;
constexpr std::size_t kAll = 64;  // codes the stand-in takes off the line at most at a time

// The port's driver as the stand-in's far side takes the codes: what it has not taken of the
// codes owed is still queued, and the transmitter is empty once nothing is. (The pty's own count
// lags behind a write: it would have the job leave before it arrived.)
class DrainedDriver final : public serial::SerialDriver {
  public:
    int GetTermios(termios2&) override { return ENOTTY; }
    int SetTermios(const termios2&) override { return ENOTTY; }
    int GetSerial(serial_struct&) override { return ENOTTY; }
    int SetSerial(const serial_struct&) override { return ENOTTY; }
    int GetModemLines(int&) override { return ENOTTY; }
    int RaiseModemLines(int) override { return ENOTTY; }
    int DropModemLines(int) override { return ENOTTY; }
    int GetOutputQueue(int& bytes) override {
        bytes = std::max(0, owed.load());
        return 0;
    }
    int GetTransmitterEmpty(bool& empty) override {
        int queued = 0;
        const int error = GetOutputQueue(queued);
        empty = error == 0 && queued == 0;
        return error;
    }
    bool HeldOpenElsewhere() override { return false; }

    std::atomic<int> owed = 0;  // codes the loop will write that the far side has not taken
};

// What the loop runs besides a terminal: a test pattern, a --print job, a spool folder.
struct Work {
    std::string_view pattern;
    const std::string* print = nullptr;
    int codes = 0;  // the job's
    bridge::Spool* spool = nullptr;
};

// The bridge's loop in a thread of its own, between a pseudo-terminal and a pty pair that plays
// the serial port.
class Rig {
  public:
    explicit Rig(Work work) {
        driver_.owed = work.codes;
        std::string error;
        pty_ = bridge::PseudoTerminal::Open(error);
        if (!pty_ || line_.port < 0 || pipe(stop_) != 0) {
            std::fprintf(stderr, "bridge bench: no pty pair here: %s\n", error.c_str());
            std::exit(1);
        }
        terminal_ = open(pty_->Path().c_str(), O_RDWR | O_NOCTTY);
        fcntl(line_.teleprinter, F_SETFL, O_NONBLOCK);
        bridge::PumpSetup setup;
        setup.port = line_.port;
        setup.terminal = pty_->Fd();
        setup.stop = stop_[0];
        setup.pattern = work.pattern;
        setup.print = work.print;
        setup.spool = work.spool;
        setup.driver = work.print != nullptr ? &driver_ : nullptr;  // a job ends as it drains
        setup.codeSeconds = kCharacterSeconds;
        if (work.print != nullptr)
            setup.terminal = -1;
        loop_ = std::thread([this, setup] {
            thread_ = gettid();
            bridge::RunPump(setup, counts_);
            ended_ = Clock::now().time_since_epoch().count();
        });
        while (thread_ == 0)
            std::this_thread::yield();
    }
    ~Rig() {
        const auto signal = static_cast<unsigned char>(SIGINT);  // what waits is thrown away
        [[maybe_unused]] const ssize_t written = write(stop_[1], &signal, 1);
        loop_.join();
        for (int fd : {terminal_, stop_[0], stop_[1]})
            close(fd);
    }

    // CPU seconds the loop's thread has used.
    double Cpu() {
        clockid_t clock{};
        pthread_getcpuclockid(loop_.native_handle(), &clock);
        timespec t{};
        clock_gettime(clock, &t);
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
    }
    // Times the loop's thread went to sleep of its own accord: its wake-ups.
    long Wakeups() const {
        std::ifstream status("/proc/self/task/" + std::to_string(thread_.load()) + "/status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0)
                return std::stol(line.substr(line.find(':') + 1));
        }
        return 0;
    }
    // Takes one code off the line, as the teleprinter does every character time.
    std::size_t Drain(std::size_t most) {
        char codes[kAll];
        const ssize_t got = read(line_.teleprinter, codes, std::min(most, kAll));
        if (got <= 0)
            return 0;
        driver_.owed -= static_cast<int>(got);
        return static_cast<std::size_t>(got);
    }
    void Type(char c) { [[maybe_unused]] const ssize_t written = write(terminal_, &c, 1); }
    // When the loop ended; none while it runs.
    std::optional<Clock::time_point> Ended() const {
        const Clock::rep ended = ended_;
        return ended == 0
                   ? std::nullopt
                   : std::optional<Clock::time_point>(Clock::time_point(Clock::duration(ended)));
    }
    // Waits for a code at the port; false after a second without one.
    bool AwaitCode() {
        pollfd wanted{line_.teleprinter, POLLIN, 0};
        return poll(&wanted, 1, 1000) == 1 && Drain(1) == 1;
    }

  private:
    PortStandIn line_;  // the serial port
    int terminal_ = -1;
    int stop_[2] = {-1, -1};
    std::unique_ptr<bridge::PseudoTerminal> pty_;
    std::thread loop_;
    std::atomic<pid_t> thread_ = 0;
    std::atomic<Clock::rep> ended_ = 0;
    DrainedDriver driver_;
    bridge::Counts counts_;
};

// Takes --print's codes off the line one a character time, as the machine prints them, until
// the loop ends. How long after the last code it ended, in milliseconds; negative: it ended
// before its last code had left.
double PrintEndsAfter(const std::string& job, int codes) {
    Rig rig(Work{{}, &job, codes});
    auto last = Clock::now();
    for (auto next = Clock::now(); !rig.Ended();) {
        if (rig.Drain(1) == 1)
            last = Clock::now();
        next += std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(kCharacterSeconds));
        std::this_thread::sleep_until(next);
    }
    if (rig.Drain(kAll) > 0)
        return -1;
    return std::chrono::duration<double, std::milli>(*rig.Ended() - last).count();
}

struct Load {
    double cpuPercent;
    double wakeupsPerSecond;
};

// Runs `step` once every character time for `seconds` and measures the loop meanwhile.
template <typename Step>
Load Measure(Rig& rig, double seconds, Step step) {
    const double cpu = rig.Cpu();
    const long wakeups = rig.Wakeups();
    const auto start = Clock::now();
    const auto period = std::chrono::duration<double>(kCharacterSeconds);
    for (auto next = start; Clock::now() - start < std::chrono::duration<double>(seconds);) {
        step();
        next += std::chrono::duration_cast<Clock::duration>(period);
        std::this_thread::sleep_until(next);
    }
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    return {(rig.Cpu() - cpu) / elapsed * 100.0,
            static_cast<double>(rig.Wakeups() - wakeups) / elapsed};
}

void LoadRow(const char* what, const Load& load) {
    std::printf("%-36s %8.3f %% of a core %8.1f wake-ups/s   %s\n", what, load.cpuPercent,
                load.wakeupsPerSecond, load.cpuPercent < kCpuTargetPercent ? "ok" : "OVER");
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = 10.0;
    int samples = 200;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--smoke") == 0) {
            seconds = 0.5;
            samples = 20;
        } else if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
            seconds = std::atof(argv[++i]);
        } else if (std::strcmp(argv[i], "--samples") == 0 && i + 1 < argc) {
            samples = std::atoi(argv[++i]);
        } else {
            std::fputs("usage: quorlix_bridge_bench [--seconds S] [--samples N] [--smoke]\n",
                       stderr);
            return 2;
        }
    }
    std::printf(
        "bridge loop, a pty pair as the port drained at 45.45 Bd; %.1f s a load, "
        "%d latency samples\n",
        seconds, samples);
    std::printf("%-36s %8s %-11s %8s   target: CPU < %.1f %%\n", "", "CPU", "", "wake-ups",
                kCpuTargetPercent);
    {
        Rig rig({});
        LoadRow("idle", Measure(rig, seconds, [] {}));
    }
    {
        char folder[] = "/tmp/quorlix-bench-spool-XXXXXX";
        std::string error;
        const std::unique_ptr<bridge::Spool> spool =
            mkdtemp(folder) != nullptr ? bridge::Spool::Open(folder, error) : nullptr;
        if (!spool) {
            std::fprintf(stderr, "bridge bench: no spool folder: %s\n", error.c_str());
            return 1;
        }
        Rig rig(Work{{}, nullptr, 0, spool.get()});
        LoadRow("idle, with a spool folder", Measure(rig, seconds, [] {}));
        rmdir(folder);
    }
    {
        const std::string job(2000, 'R');
        Rig rig(Work{{}, &job, 2000});
        LoadRow("--print at 45.45 Bd", Measure(rig, seconds, [&] { rig.Drain(1); }));
    }
    {
        Rig rig({});
        const std::string_view text = "THE QUICK BROWN FOX 1234\r\n";
        std::size_t at = 0;
        LoadRow("typing at 45.45 Bd", Measure(rig, seconds, [&] {
                    rig.Type(text[at++ % text.size()]);
                    rig.Drain(kAll);
                }));
    }
    {
        Rig rig(Work{bridge::FindTestPattern("fox")->line});
        LoadRow("sending --test fox at 45.45 Bd", Measure(rig, seconds, [&] { rig.Drain(1); }));
    }

    std::vector<double> ends;
    for (int i = 0; i < std::max(3, samples / 20); ++i)
        ends.push_back(PrintEndsAfter("RY\r\n", 6));  // R Y, CR, two fill codes, LF
    std::sort(ends.begin(), ends.end());
    const double character = kCharacterSeconds * 1000;
    std::printf(
        "--print's end after its last code: median %.1f  max %.1f ms = %.2f and %.2f "
        "character times   target < 100 ms + 1 character: %s%s\n",
        ends[ends.size() / 2], ends.back(), ends[ends.size() / 2] / character,
        ends.back() / character, ends.back() < 100 + character ? "ok" : "OVER",
        ends.front() < 0 ? ", and it once ended before its last code left" : "");

    Rig rig({});
    std::vector<double> ms;
    for (int i = 0; i < samples; ++i) {
        const auto start = Clock::now();
        rig.Type('E');
        if (!rig.AwaitCode()) {
            std::fputs("bridge bench: a typed character never reached the port\n", stderr);
            return 1;
        }
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        std::this_thread::sleep_for(std::chrono::milliseconds(5));  // let the loop fall asleep
    }
    std::sort(ms.begin(), ms.end());
    const double median = ms[ms.size() / 2];
    const double p99 = ms[ms.size() * 99 / 100];
    std::printf(
        "latency, pseudo-terminal to port: min %.3f  median %.3f  p99 %.3f  max %.3f ms   "
        "target < %.0f ms: median %s, max %s\n",
        ms.front(), median, p99, ms.back(), kLatencyTargetMs,
        median < kLatencyTargetMs ? "ok" : "OVER", ms.back() < kLatencyTargetMs ? "ok" : "OVER");
    std::ifstream load("/proc/loadavg");
    std::string average;
    load >> average;
    std::printf("load average meanwhile: %s on %u cores (the max is the scheduler's under load)\n",
                average.c_str(), std::thread::hardware_concurrency());
    return 0;
}
