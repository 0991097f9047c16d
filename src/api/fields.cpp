#include "api/fields.h"

#include <cstring>

// The scans below use the C library's string routines, which look at many
// bytes per step: a listing of 256 rows or 100 long log lines passes through
// them on every request.

void copy_field(char *dst, size_t size, const char *src) {
    size_t n = src ? strnlen(src, size - 1) : 0;
    if (n) std::memcpy(dst, src, n);
    dst[n] = '\0';
}

int split_pipe(char *line, char **fields, int max) {
    fields[0] = line;
    int count = 1;
    for (char *p = line; count < max && (p = std::strchr(p, '|')) != nullptr;) {
        *p++ = '\0';
        fields[count++] = p;
    }
    char *last = fields[count - 1];
    last[std::strcspn(last, "\r\n")] = '\0';
    return count;
}

size_t next_line(const char **pos, char *line, size_t limit) {
    const char *p = *pos;
    // Bounded by the terminator first, so the search for LF never reads
    // past the end of the text.
    size_t n = strnlen(p, limit);
    if (const void *lf = std::memchr(p, '\n', n)) n = static_cast<size_t>(static_cast<const char *>(lf) - p);
    std::memcpy(line, p, n);
    line[n] = '\0';
    p += n;
    while (*p == '\r' || *p == '\n') ++p;
    *pos = p;
    return n;
}
