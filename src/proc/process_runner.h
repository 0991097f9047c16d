#pragma once

#include "proc/capture.h"
#include "proc/deadline.h"
#include "proc/runner.h"

// The runner of real runtime commands. Each command line runs under
// /bin/sh -c in a process group of its own, with every signal at its
// default and an empty signal mask, standard input from /dev/null and
// standard output into a pipe that is read as it fills (all of a request's
// commands at once, through poll). Output is folded as capture_append
// does.
//
// Endings:
//   - normal: once a command's output has ended and its shell has exited,
//     what is left of its group is killed and collected;
//   - the deadline passes: SIGTERM to each unfinished group, SIGKILL one
//     second later; such a command reports status 124 and its text ends
//     with the line "hullmon: timed out after N s";
//   - the host hangs up (see signals.h): SIGKILL to each unfinished group;
//   - output that cannot be held: SIGKILL to that group, status -1, no text.
// In every case each process of each group has been collected before run
// returns. Waits rely on the signal handling of signals.h: install it
// before the first run.
class process_runner : public command_runner {
public:
    explicit process_runner(const deadline &until) : until_(until) {}
    void run(const char *const *commands, command_output *out, int count) override;

private:
    deadline until_;
};

// Appends the deadline's line ("hullmon: timed out after N s" and a line
// feed) to a command's captured text, with a line feed first when the text
// is not empty and does not end with one. Returns false when memory runs
// out.
bool append_timeout_note(capture_text *cap, int seconds);

// Decodes a wait status into the exit status a runner reports: the exit
// code (0..255), 128 + N for death by signal N, -1 for anything else.
int exit_status_of(int wait_status);
