// Default signal dispositions and an empty mask for what PAM modules start, while the caller
// keeps its termination signals.
#pragma once

#include <signal.h>

#include <array>
#include <span>

// For one scope (around pam_open_session and pam_close_session): no signal is blocked, none is
// ignored, so whatever a module forks and execs starts with the defaults. The `held` signals that
// arrive meanwhile are noted and, once the scope ends and the mask is back, raised again, so they
// wait pending for the caller; signals the caller had blocked or ignored are swallowed meanwhile
// instead of acting. Single-threaded processes only; one scope at a time.
struct DefaultSignals {
    explicit DefaultSignals(std::span<const int> held);
    DefaultSignals(const DefaultSignals&) = delete;
    DefaultSignals& operator=(const DefaultSignals&) = delete;
    ~DefaultSignals();

  private:
    sigset_t saved_mask_{};
    std::array<struct sigaction, NSIG> saved_actions_{};
    std::array<bool, NSIG> changed_{};
    std::array<bool, NSIG> held_{};
};
