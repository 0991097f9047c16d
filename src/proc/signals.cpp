#include "proc/signals.h"

#include <sys/prctl.h>

#include <csignal>
#include <ctime>
#include <initializer_list>

namespace {

volatile sig_atomic_t g_hung_up = 0;
volatile sig_atomic_t g_child_exited = 0;
bool g_guarded = false;
// The signal mask from before the guard, with which waits let the
// guarded signals through.
sigset_t g_wait_mask;

void on_hangup(int) { g_hung_up = 1; }
void on_child(int) { g_child_exited = 1; }

}  // namespace

void hangup_guard() {
    if (g_guarded) return;
    g_guarded = true;
    sigset_t guarded;
    sigemptyset(&guarded);
    for (int sig : {SIGTERM, SIGHUP, SIGINT, SIGCHLD}) sigaddset(&guarded, sig);
    sigprocmask(SIG_BLOCK, &guarded, &g_wait_mask);
    for (int sig : {SIGTERM, SIGHUP, SIGINT, SIGCHLD}) sigdelset(&g_wait_mask, sig);

    // No SA_RESTART: a wait must end when one of them comes in.
    struct sigaction sa = {};
    sigemptyset(&sa.sa_mask);
    sa.sa_handler = on_hangup;
    for (int sig : {SIGTERM, SIGHUP, SIGINT}) sigaction(sig, &sa, nullptr);
    sa.sa_handler = on_child;
    sa.sa_flags = SA_NOCLDSTOP;
    sigaction(SIGCHLD, &sa, nullptr);

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

int guarded_poll(pollfd *fds, nfds_t count, int timeout_ms) {
    timespec wait;
    if (timeout_ms >= 0) {
        wait.tv_sec = timeout_ms / 1000;
        wait.tv_nsec = static_cast<long>(timeout_ms % 1000) * 1000000L;
    }
    return ppoll(fds, count, timeout_ms >= 0 ? &wait : nullptr, &g_wait_mask);
}
