#include "cgi/query.h"

#include <cstring>

namespace {

int hex_value(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Decodes in place; the text only ever shrinks.
void url_decode(char *s) {
    char *w = s;
    for (const char *r = s; *r;) {
        if (*r == '%') {
            int hi = hex_value(static_cast<unsigned char>(r[1]));
            int lo = hi < 0 ? -1 : hex_value(static_cast<unsigned char>(r[2]));
            if (lo >= 0) {
                *w++ = static_cast<char>(hi * 16 + lo);
                r += 3;
            } else {
                *w++ = *r++;
            }
        } else if (*r == '+') {
            *w++ = ' ';
            ++r;
        } else {
            *w++ = *r++;
        }
    }
    *w = '\0';
}

}  // namespace

bool get_query_val(const char *text, const char *name, char *out, size_t size) {
    out[0] = '\0';
    if (!text || !*text) return false;
    const size_t name_len = std::strlen(name);
    const char *seg = text;
    for (;;) {
        if (std::strncmp(seg, name, name_len) == 0 && seg[name_len] == '=') break;
        const char *amp = std::strchr(seg, '&');
        if (!amp || amp[1] == '\0') return false;
        seg = amp + 1;
    }
    const char *value = seg + name_len + 1;
    size_t n = 0;
    while (value[n] && value[n] != '&' && n < size - 1) ++n;
    std::memcpy(out, value, n);
    out[n] = '\0';
    url_decode(out);
    return true;
}
