#include "json_str.h"

#include <cstdio>

namespace {

// 0 for bytes that pass unchanged, else the letter of a short escape, or
// 'u' for the \u00XX form.
struct escape_table {
    char how[256];
    constexpr escape_table() : how() {
        for (int c = 0; c < 0x20; ++c) how[c] = 'u';
        how['\t'] = 't';
        how['\n'] = 'n';
        how['\r'] = 'r';
        how['"'] = '"';
        how['\\'] = '\\';
    }
};
constexpr escape_table kEscape;

}  // namespace

void json_str(const char *text) {
    std::putc('"', stdout);
    if (text) {
        // Runs of plain bytes go out in one write; the reply may carry a
        // whole captured output, so this stays linear and unbuffered here.
        const unsigned char *run = reinterpret_cast<const unsigned char *>(text);
        const unsigned char *p = run;
        for (;; ++p) {
            unsigned char c = *p;
            if (c != 0 && !kEscape.how[c]) continue;
            if (p > run) std::fwrite(run, 1, static_cast<size_t>(p - run), stdout);
            if (c == 0) break;
            char how = kEscape.how[c];
            if (how == 'u') {
                std::fprintf(stdout, "\\u%04x", c);
            } else {
                std::putc('\\', stdout);
                std::putc(how, stdout);
            }
            run = p + 1;
        }
    }
    std::putc('"', stdout);
}
