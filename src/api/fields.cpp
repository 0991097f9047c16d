#include "fields.h"

#include <cstring>

void copy_field(char *dst, size_t size, const char *src) {
    size_t n = 0;
    if (src)
        while (src[n] && n < size - 1) ++n;
    if (n) std::memcpy(dst, src, n);
    dst[n] = '\0';
}

int split_pipe(char *line, char **fields, int max) {
    fields[0] = line;
    int count = 1;
    for (char *p = line; *p && count < max; ++p) {
        if (*p == '|') {
            *p = '\0';
            fields[count++] = p + 1;
        }
    }
    char *last = fields[count - 1];
    last[std::strcspn(last, "\r\n")] = '\0';
    return count;
}

size_t next_line(const char **pos, char *line, size_t limit) {
    const char *p = *pos;
    size_t n = 0;
    while (n < limit && p[n] && p[n] != '\n') ++n;
    std::memcpy(line, p, n);
    line[n] = '\0';
    p += n;
    while (*p == '\r' || *p == '\n') ++p;
    *pos = p;
    return n;
}
