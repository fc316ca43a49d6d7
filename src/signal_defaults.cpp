#include "signal_defaults.h"

namespace {

// Written only by the handler; read once the signals are blocked again.
volatile sig_atomic_t arrived[NSIG];

void note_arrival(int signal_number) {
    arrived[signal_number] = 1;
}

// A handler, unlike SIG_IGN, goes back to the default in whatever is exec'd.
void swallow(int /*signal_number*/) {}

bool may_change(int signal_number) {
    return signal_number != SIGKILL && signal_number != SIGSTOP;
}

}  // namespace

DefaultSignals::DefaultSignals(std::span<const int> held) {
    for (const int signal_number : held) {
        if (signal_number > 0 && signal_number < NSIG) {
            held_[signal_number] = true;
        }
    }
    ::sigprocmask(SIG_SETMASK, nullptr, &saved_mask_);
    for (int signal_number = 1; signal_number < NSIG; ++signal_number) {
        struct sigaction current {};
        if (!may_change(signal_number) || ::sigaction(signal_number, nullptr, &current) != 0) {
            continue;
        }
        const bool blocked = ::sigismember(&saved_mask_, signal_number) == 1;
        if (!held_[signal_number] && !blocked && current.sa_handler != SIG_IGN) {
            continue;
        }
        arrived[signal_number] = 0;
        struct sigaction replacement {};
        replacement.sa_handler = held_[signal_number] ? note_arrival : swallow;
        // Modules seldom retry a call a signal interrupted.
        replacement.sa_flags = SA_RESTART;
        ::sigfillset(&replacement.sa_mask);
        saved_actions_[signal_number] = current;
        changed_[signal_number] = ::sigaction(signal_number, &replacement, nullptr) == 0;
    }
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
}

DefaultSignals::~DefaultSignals() {
    sigset_t all;
    ::sigfillset(&all);
    ::sigprocmask(SIG_BLOCK, &all, nullptr);
    for (int signal_number = 1; signal_number < NSIG; ++signal_number) {
        if (changed_[signal_number]) {
            ::sigaction(signal_number, &saved_actions_[signal_number], nullptr);
        }
        if (held_[signal_number] && arrived[signal_number] != 0) {
            arrived[signal_number] = 0;
            // Blocked now: it waits for the caller.
            ::raise(signal_number);
        }
    }
    ::sigprocmask(SIG_SETMASK, &saved_mask_, nullptr);
}
