// SPDX-License-Identifier: GPL-3.0-or-later
// Measures the bridge's loop with a pty pair standing in for the serial port: the CPU it takes
// while idle, while a user types at the line's own speed and while it sends a test pattern, how
// often it wakes, and the latency from a byte written into the pseudo-terminal to its code at
// the port. The port stand-in is drained at 45.45 Bd, as a teleprinter would take the codes.
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
#include <string>
#include <thread>
#include <vector>

#include "PortStandIn.h"
#include "bridge/Baudot.h"
#include "bridge/Pump.h"

namespace {

using Clock = std::chrono::steady_clock;

// One character at 45.45 Bd: a start bit, five data bits and 1.5 stop bits.
constexpr double kCharacterSeconds = 7.5 / 45.45;
constexpr double kCpuTargetPercent = 0.5;
constexpr double kLatencyTargetMs = 10.0;
constexpr std::size_t kAll = 64;  // codes the stand-in takes off the line at most at a time

// The bridge's loop in a thread of its own, between a pseudo-terminal and a pty pair that plays
// the serial port.
class Rig {
  public:
    explicit Rig(std::string_view pattern) {
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
        setup.pattern = pattern;
        loop_ = std::thread([this, setup] {
            thread_ = gettid();
            bridge::RunPump(setup, counts_);
        });
        while (thread_ == 0)
            std::this_thread::yield();
    }
    ~Rig() {
        const auto signal = static_cast<unsigned char>(SIGTERM);
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
        return got > 0 ? static_cast<std::size_t>(got) : 0;
    }
    void Type(char c) { [[maybe_unused]] const ssize_t written = write(terminal_, &c, 1); }
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
    bridge::Counts counts_;
};

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
        Rig rig({});
        const std::string_view text = "THE QUICK BROWN FOX 1234\r\n";
        std::size_t at = 0;
        LoadRow("typing at 45.45 Bd", Measure(rig, seconds, [&] {
                    rig.Type(text[at++ % text.size()]);
                    rig.Drain(kAll);
                }));
    }
    {
        Rig rig(bridge::FindTestPattern("fox")->line);
        LoadRow("sending --test fox at 45.45 Bd", Measure(rig, seconds, [&] { rig.Drain(1); }));
    }

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
