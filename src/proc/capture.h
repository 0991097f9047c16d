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

// Makes room for n more bytes and the terminator: grows the block to 8192
// bytes, then by doubling, whenever length + n + 1 exceeds the capacity.
// Returns 0 when memory runs out; the text is then unchanged.
int capture_reserve(capture_text *cap, size_t n);

// Appends n bytes read from a command's pipe, folding each CR that is
// directly followed by LF into one LF, also when the pair straddles two
// reads. Grows the block to 8192 bytes, then by doubling, whenever
// length + n + 1 exceeds the capacity. Returns 0 when memory runs out; the
// text then still holds what it held before.
int capture_append(capture_text *cap, const char *data, size_t n);

// Decodes a wait status into the exit status a runner reports: the exit
// code (0..255), 128 + N for death by signal N, -1 for anything else.
int exit_status_of(int wait_status);
