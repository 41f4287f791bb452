#pragma once

// Ctrl-C, SIGTERM and SIGHUP end a recording or a stream early instead of the process: they are
// blocked in this thread before any camera thread exists (so every thread inherits the block)
// and taken by waitUntil; a thread started earlier that still gets one only notes it.
#include <pthread.h>
#include <signal.h>
#include <time.h>

#include <algorithm>
#include <chrono>

namespace stopsignals {
inline volatile sig_atomic_t stopSignal = 0;
inline void note(int sig) { stopSignal = sig; }
} // namespace stopsignals

class StopSignals {
public:
    StopSignals() {
        sigemptyset(&set);
        for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&set, sig);
        struct sigaction action {};
        action.sa_handler = stopsignals::note;
        action.sa_flags = SA_RESTART;
        sigemptyset(&action.sa_mask);
        for (int sig : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(sig, &action, nullptr);
        pthread_sigmask(SIG_BLOCK, &set, nullptr);
    }
    // Takes a pending stop signal without waiting: its number, or 0.
    int poll() {
        if (stopsignals::stopSignal) return int(stopsignals::stopSignal);
        struct timespec zero {0, 0};
        const int sig = sigtimedwait(&set, nullptr, &zero);
        if (sig > 0) stopsignals::stopSignal = sig;
        return int(stopsignals::stopSignal);
    }
    // Waits until the deadline or a stop signal; the signal's number, or 0.
    int waitUntil(std::chrono::steady_clock::time_point deadline) {
        for (;;) {
            if (stopsignals::stopSignal) return int(stopsignals::stopSignal);
            const auto left = deadline - std::chrono::steady_clock::now();
            if (left <= std::chrono::steady_clock::duration::zero()) return 0;
            const auto slice = std::min<std::chrono::steady_clock::duration>(left, std::chrono::milliseconds(100));
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(slice).count();
            struct timespec ts {time_t(ns / 1000000000), long(ns % 1000000000)};
            const int sig = sigtimedwait(&set, nullptr, &ts);
            if (sig > 0) stopsignals::stopSignal = sig;
        }
    }

private:
    sigset_t set;
};
