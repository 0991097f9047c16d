#pragma once

#include <cstddef>

// Capacity of a command-line buffer, terminator included.
constexpr size_t kCommandSize = 1024;

// The growing text a command's output is gathered in. Invariant once text
// is set: capacity >= length + 1 and text[length] is the terminator.
struct capture_text {
    char *text;
    size_t length;
    size_t capacity;
};

// Appends n bytes read from a command's pipe, folding each CR that is
// directly followed by LF into one LF, also when the pair straddles two
// reads. Grows the block to 8192 bytes, then by doubling, whenever
// length + n + 1 exceeds the capacity. Returns 0 when memory runs out; the
// text then still holds what it held before.
int capture_append(capture_text *cap, const char *data, size_t n);

// Runs the command line through /bin/sh and returns all it printed on its
// standard output as a terminated heap text (release with free); an empty
// output gives an empty text. *status is set to -1 first and, once the
// command has ended, to its exit code (0..255), or 128 + N when it died of
// signal N. Returns null, with *status -1, when the command cannot be
// started or its output cannot be held in memory.
char *run_capture(const char *command, int *status);

// Decodes what pclose returned into the exit status run_capture reports.
int exit_status_of(int wait_status);
