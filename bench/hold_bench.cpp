// SPDX-License-Identifier: GPL-3.0-or-later
// Measures --hold: the port accesses and serial-driver calls one look costs and what putting
// the line back costs, counted over the recording backend and a stand-in for the driver; and
// the CPU a hold takes while nothing changes the line, from the program's own scripted mode run
// in a child process on the simulated UART and ended with SIGTERM.
//
//   quorlix_hold_bench [--seconds S]   (default 10; --smoke: 1)
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "FakeDriverPort.h"
#include "FakeSerialDriver.h"
#include "app/Startup.h"
#include "line/Hold.h"
#include "serial/DriverPortIo.h"
#include "uart/LineSettings.h"
#include "uart/RecordingPortIo.h"
#include "uart/Registers.h"

namespace {

constexpr double kCpuTargetPercent = 0.5;

struct Cost {
    int look;     // a look that finds the line as it was set
    int putBack;  // a look that finds framing and DTR changed, and the writes that undo it
};

// The line every count holds: 45.45 Bd, 5N1.5, DTR up, at 0x2F8.
line::Hold HeldLine() {
    uart::LineSettings = uart::LineSettingsData{};
    uart::LineSettings.portBase = 0x2F8;
    line::Hold hold(0x2F8);
    hold.KeepLine(45.45, uart::LineSettings.ToFraming(), std::nullopt);
    hold.KeepModemLine(uart::kMcrDtr, true);
    return hold;
}

Cost CountAccesses() {
    uart::RecordingPortIo io;
    const uart::ScopedPortIo installed(io);
    line::Hold hold = HeldLine();
    io.SetReadValue(0x2FB, 0x04);
    io.SetReadValue(0x2FC, 0x09);
    hold.LookAndPutBack();
    Cost cost{static_cast<int>(io.Accesses().size()), 0};
    io.Clear();
    io.SetReadValue(0x2FB, 0x03);  // the driver's 8N1, DTR dropped
    io.SetReadValue(0x2FC, 0x08);
    hold.LookAndPutBack();
    cost.putBack = static_cast<int>(io.Accesses().size());
    return cost;
}

Cost CountDriverCalls() {
    FakeDriverPort port;
    FakeSerialDriver* driver = port.driver;
    line::Hold hold = HeldLine();
    uart::ProgramUart(0x2F8, 45.45);
    uart::SetModemLine(uart::kMcrDtr, true);
    driver->calls.clear();
    hold.LookAndPutBack();
    Cost cost{static_cast<int>(driver->calls.size()), 0};
    driver->calls.clear();
    driver->termios.c_cflag = (driver->termios.c_cflag & ~(CBAUD | CSIZE)) | B300 | CS8;
    driver->termios.c_ospeed = 300;
    driver->lines &= ~TIOCM_DTR;
    hold.LookAndPutBack();
    cost.putBack = static_cast<int>(driver->calls.size());
    return cost;
}

struct Idle {
    double cpuPercent;
    double wakeupsPerSecond;
    int status;
};

struct ChildRun {
    double cpuSeconds;
    long wakeups;  // voluntary context switches
    int status;
};

// quorlix --simulate --apply 45.45,5N1.5 --dtr on [--hold] in a child; with --hold ended by
// SIGTERM after `seconds`.
ChildRun RunChild(bool hold, double seconds) {
    const pid_t child = fork();
    if (child == 0) {
        const int sink = open("/dev/null", O_WRONLY);
        dup2(sink, STDOUT_FILENO);
        char program[] = "quorlix", simulate[] = "--simulate", apply[] = "--apply",
             line[] = "45.45,5N1.5", dtr[] = "--dtr", on[] = "on", held[] = "--hold";
        char* argv[] = {program, simulate, apply, line, dtr, on, held, nullptr};
        _exit(app::Main(hold ? 7 : 6, argv));
    }
    if (hold) {
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        kill(child, SIGTERM);
    }
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    const double cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                       static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    return {cpu, usage.ru_nvcsw, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

// The hold's own CPU: a run that holds for `seconds`, less a run that sets the same line and
// exits, which pays the same start-up.
Idle MeasureIdle(double seconds) {
    std::fflush(nullptr);
    const ChildRun once = RunChild(false, 0);
    const ChildRun held = RunChild(true, seconds);
    return {std::max(0.0, held.cpuSeconds - once.cpuSeconds) / seconds * 100.0,
            static_cast<double>(held.wakeups - once.wakeups) / seconds,
            once.status != 0 ? once.status : held.status};
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = 10.0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--smoke") == 0)
            seconds = 1.0;
        if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc)
            seconds = std::max(0.5, std::atof(argv[++i]));
    }
    const Idle idle = MeasureIdle(seconds);
    const Cost accesses = CountAccesses();
    const Cost calls = CountDriverCalls();

    std::printf("--hold, looking every %lld ms\n\n",
                static_cast<long long>(line::kHoldInterval.count()));
    std::printf("%-50s %8s %8s\n", "per look", "measured", "at most");
    std::printf("%-50s %8d %8d\n", "port reads, line as set", accesses.look, 3);
    std::printf("%-50s %8d %8d\n", "driver calls, line as set", calls.look, 3);
    std::printf("%-50s %8d %8d\n", "port accesses, putting line and DTR back", accesses.putBack, 8);
    std::printf("%-50s %8d %8d\n", "driver calls, putting line and DTR back", calls.putBack, 11);
    std::printf("\n%-50s %8s %8s   %s\n", "holding, nothing changes the line", "CPU %", "wake/s",
                "target");
    char what[64];
    std::snprintf(what, sizeof what, "%.1f s, simulated UART (exit status %d)", seconds,
                  idle.status);
    std::printf("%-50s %8.3f %8.1f   < %.1f %%\n", what, idle.cpuPercent, idle.wakeupsPerSecond,
                kCpuTargetPercent);
    const bool within = accesses.look <= 3 && calls.look <= 3 && accesses.putBack <= 8 &&
                        calls.putBack <= 11 && idle.status == 0 &&
                        idle.cpuPercent < kCpuTargetPercent;
    return within ? 0 : 1;
}
