#pragma once

#include <cstddef>

#include "proc/heap_text.h"

// The growing text a command's output is gathered in. Invariant once text
// is set: capacity >= length + 1 and text[length] is the terminator.
struct capture_text {
    heap_text text;
    size_t length = 0;
    size_t capacity = 0;
};

// Makes room for n more bytes and the terminator: grows the block to 8192
// bytes, then by doubling, whenever length + n + 1 exceeds the capacity.
// Returns false when memory runs out; the text is then unchanged.
bool capture_reserve(capture_text *cap, size_t n);

// Appends n bytes read from a command's pipe, folding each CR that is
// directly followed by LF into one LF, also when the pair straddles two
// reads. Grows the block to 8192 bytes, then by doubling, whenever
// length + n + 1 exceeds the capacity. Returns false when memory runs out;
// the text then still holds what it held before.
bool capture_append(capture_text *cap, const char *data, size_t n);
