#pragma once

#include <poll.h>

#include <csignal>

// How a run meets signals, set up once by main before it reads the request:
//
//   - SIGPIPE is ignored: a host that hangs up early must not kill the run;
//     writes then fail quietly and the exit status stays 0.
//   - The host ends a run it no longer wants (its client went away, or it
//     is shutting down) with SIGTERM, SIGHUP or SIGINT. These no longer end
//     hullmon at once: they are held back and only let through while it
//     waits in poll_letting_signals_in, where they raise the hang-up flag,
//     so the waiting code can end its runtime commands and collect them
//     before the run ends with status 0.
//   - SIGCHLD is held back the same way, so that a wait also ends when a
//     command exits.
//   - hullmon becomes the reaper of the processes its commands leave
//     behind (a subreaper), so that it can collect every member of a
//     command's process group, not only the command itself.
//
// Runtime commands start with all of these at their defaults and an empty
// mask (see process_runner).

// The signals held back, and the one list of them: the host's three ways of
// ending a run, and SIGCHLD.
constexpr int kHeldSignals[] = {SIGTERM, SIGHUP, SIGINT, SIGCHLD};

// Sets up all of the above; later calls do nothing.
void install_signal_handling();

// true once SIGTERM, SIGHUP or SIGINT arrived after the set-up.
bool host_hung_up();

// true when SIGCHLD arrived since the last call; clears the flag.
bool take_child_exited();

// poll(2) with the held-back signals let through for the length of the
// wait: returns as poll does, -1 with EINTR when a signal came in.
// timeout_ms -1 waits without end. Call only after the set-up.
int poll_letting_signals_in(pollfd *fds, nfds_t count, int timeout_ms);
