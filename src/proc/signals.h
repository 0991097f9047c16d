#pragma once

#include <poll.h>

// The host ends a run it no longer wants (its client went away, or it is
// shutting down) with SIGTERM, SIGHUP or SIGINT. Once the guard is set,
// those signals no longer end hullmon at once: they are held back and only
// let through while it waits in guarded_poll, where they raise the hang-up
// flag, so the waiting code can end its runtime commands and collect them
// before the run ends with status 0. SIGCHLD is handled the same way, so a
// wait also ends when a command exits.
//
// The guard also makes hullmon the reaper of the processes its commands
// leave behind, so that it can collect every member of a command's
// process group, not only the command itself.

// Installs the guard; later calls do nothing.
void hangup_guard();

// true once SIGTERM, SIGHUP or SIGINT arrived after the guard was set.
bool host_hung_up();

// true when SIGCHLD arrived since the last call; clears the flag.
bool take_child_exited();

// poll(2) with the guarded signals let through for the length of the
// wait: returns as poll does, -1 with EINTR when a signal came in.
// timeout_ms -1 waits without end. Call only once the guard is set.
int guarded_poll(pollfd *fds, nfds_t count, int timeout_ms);
