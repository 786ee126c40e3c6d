#include "cli/signals.h"

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace cli {

namespace {

// The signal that asked to stop (0: none). Set by the signal handler;
// lock-free, hence safe there.
std::atomic<int> g_signal{0};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void on_interrupt(int sig) {
    int none = 0;
    g_signal.compare_exchange_strong(none, sig);
}

}  // namespace

void install_interrupt_handler() {
    struct sigaction action {};
    action.sa_handler = on_interrupt;
    sigemptyset(&action.sa_mask);
    // Writes in flight go on after the signal, so that they finish whole.
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    // A second Ctrl-C ends the process the usual way.
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    sigaction(SIGINT, &action, nullptr);
}

bool interrupt_requested() { return g_signal.load() != 0; }

void end_by_interrupt() {
    const int sig = g_signal.load() != 0 ? g_signal.load() : SIGINT;
    std::fflush(nullptr);
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(sig, &action, nullptr);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, sig);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    raise(sig);
    // Only if the signal's default action does not end the process.
    std::_Exit(128 + sig);
}

}  // namespace cli
