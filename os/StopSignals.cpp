// SPDX-License-Identifier: GPL-3.0-or-later
#include "os/StopSignals.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <string>
#include <vector>

#include "os/Listed.h"

namespace os {

namespace {

constexpr std::array kStopSignals{SIGINT, SIGTERM, SIGHUP};
std::array<struct sigaction, kStopSignals.size()> previousActions;
int stopPipe = -1;  // the writing end, for the handler

void OnStopSignal(int signal) {
    const int saved = errno;
    const auto number = static_cast<unsigned char>(signal);
    [[maybe_unused]] const ssize_t written = ::write(stopPipe, &number, 1);
    errno = saved;
}

}  // namespace

StopSignals::StopSignals() {
    if (pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
        pipe_[0] = pipe_[1] = -1;
        return;
    }
    stopPipe = pipe_[1];
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < kStopSignals.size(); ++i) {
        // A signal the caller ignores stays ignored: nohup's hang-up, a background job's
        // Ctrl+C.
        sigaction(kStopSignals[i], nullptr, &previousActions[i]);
        caught_[i] = previousActions[i].sa_handler != SIG_IGN;
        if (caught_[i])
            sigaction(kStopSignals[i], &action, nullptr);
    }
}

StopSignals::~StopSignals() {
    if (pipe_[0] < 0)
        return;
    for (std::size_t i = 0; i < kStopSignals.size(); ++i)
        sigaction(kStopSignals[i], &previousActions[i], nullptr);
    stopPipe = -1;
    ::close(pipe_[0]);
    ::close(pipe_[1]);
}

std::string StopSignals::Names() const {
    constexpr const char* kNames[] = {"Ctrl+C", "SIGTERM", "SIGHUP"};
    std::vector<std::string> names;
    for (std::size_t i = 0; i < kStopSignals.size(); ++i) {
        if (caught_[i])
            names.emplace_back(kNames[i]);
    }
    return names.empty() ? "only SIGKILL" : Listed(names, "or");
}

BlockedStopSignals::BlockedStopSignals() {
    sigemptyset(&blocked_);
    for (const int signal : kStopSignals) {
        struct sigaction now {};
        if (sigaction(signal, nullptr, &now) == 0 && now.sa_handler != SIG_IGN)
            sigaddset(&blocked_, signal);
    }
    pthread_sigmask(SIG_BLOCK, &blocked_, &previous_);
    fd_ = signalfd(-1, &blocked_, SFD_CLOEXEC | SFD_NONBLOCK);
    if (fd_ < 0)  // nothing could take them: they end the process as before
        pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

BlockedStopSignals::~BlockedStopSignals() {
    if (fd_ < 0)
        return;
    ::close(fd_);
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

void BlockedStopSignals::EndAsSignalled() {
    signalfd_siginfo arrived{};
    const bool read = ::read(fd_, &arrived, sizeof arrived) == sizeof arrived;
    const int signal = read ? static_cast<int>(arrived.ssi_signo) : SIGTERM;
    std::signal(signal, SIG_DFL);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal);
    pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
    raise(signal);
    _exit(128 + signal);  // not reached: its default action ends the process
}

}  // namespace os
