#pragma once

#include <cstddef>

// Copies src into dst, at most size - 1 bytes, and always terminates dst.
// A null src leaves dst empty. Cuts are silent.
void copy_field(char *dst, size_t size, const char *src);

// Splits a writable, terminated line in place at "|" into at most max
// fields; further bars stay inside the last field. The last field is cut at
// its first CR or LF. fields[0..count-1] point into line. Returns the
// count, 1..max.
int split_pipe(char *line, char **fields, int max);

// Reads one line of a captured output into line (at most limit bytes, then
// terminated; line must hold limit + 1 bytes) and moves *pos past it and
// past every CR and LF that follows. An over-long line ends after limit
// bytes and its rest becomes the next line. Returns the line's length; 0
// for the empty line of an output that starts with LF. Call only while
// **pos is not the terminator.
size_t next_line(const char **pos, char *line, size_t limit);
