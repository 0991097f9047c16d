#include "proc/signals.h"

#include <sys/prctl.h>

#include <ctime>

namespace {

volatile sig_atomic_t g_hung_up = 0;
volatile sig_atomic_t g_child_exited = 0;
bool g_installed = false;
// The signal mask from before the set-up, with which waits let the held
// signals through.
sigset_t g_wait_mask;

void on_hangup(int) { g_hung_up = 1; }
void on_child(int) { g_child_exited = 1; }

}  // namespace

void install_signal_handling() {
    if (g_installed) return;
    g_installed = true;
    std::signal(SIGPIPE, SIG_IGN);

    sigset_t held;
    sigemptyset(&held);
    for (int sig : kHeldSignals) sigaddset(&held, sig);
    sigprocmask(SIG_BLOCK, &held, &g_wait_mask);
    for (int sig : kHeldSignals) sigdelset(&g_wait_mask, sig);

    // No SA_RESTART: a wait must end when one of them comes in.
    for (int sig : kHeldSignals) {
        struct sigaction sa = {};
        sigemptyset(&sa.sa_mask);
        sa.sa_handler = sig == SIGCHLD ? on_child : on_hangup;
        sa.sa_flags = sig == SIGCHLD ? SA_NOCLDSTOP : 0;
        sigaction(sig, &sa, nullptr);
    }

    // Processes orphaned inside a command's group come to hullmon instead
    // of to init, so none stays behind as a zombie of an init that does
    // not reap.
    prctl(PR_SET_CHILD_SUBREAPER, 1);
}

bool host_hung_up() { return g_hung_up != 0; }

bool take_child_exited() {
    bool was = g_child_exited != 0;
    g_child_exited = 0;
    return was;
}

int poll_letting_signals_in(pollfd *fds, nfds_t count, int timeout_ms) {
    timespec wait;
    if (timeout_ms >= 0) {
        wait.tv_sec = timeout_ms / 1000;
        wait.tv_nsec = static_cast<long>(timeout_ms % 1000) * 1000000L;
    }
    return ppoll(fds, count, timeout_ms >= 0 ? &wait : nullptr, &g_wait_mask);
}
