#include "json_str.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

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

// Nonzero when one of the eight bytes packed in w is below 0x20, a quote or
// a backslash (bytes from 0x80 up never count). It answers only "is there
// one"; the byte loop then finds which.
std::uint64_t has_special(std::uint64_t w) {
    constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
    constexpr std::uint64_t kHighs = 0x8080808080808080ULL;
    const std::uint64_t quote = w ^ (kOnes * '"');
    const std::uint64_t backslash = w ^ (kOnes * '\\');
    const std::uint64_t below_space = (w - kOnes * 0x20) & ~w;
    return (below_space | ((quote - kOnes) & ~quote) | ((backslash - kOnes) & ~backslash)) & kHighs;
}

}  // namespace

void json_str(const char *text) {
    std::putc('"', stdout);
    if (text) {
        // Runs of plain bytes go out in one write; the reply may carry a
        // whole captured output, so plain stretches are skipped eight bytes
        // at a time.
        const unsigned char *p = reinterpret_cast<const unsigned char *>(text);
        const unsigned char *const end = p + std::strlen(text);
        const unsigned char *run = p;
        while (p < end) {
            if (end - p >= 8) {
                std::uint64_t w;
                std::memcpy(&w, p, sizeof w);
                if (!has_special(w)) {
                    p += 8;
                    continue;
                }
            }
            const char how = kEscape.how[*p];
            if (how) {
                if (p > run) std::fwrite(run, 1, static_cast<size_t>(p - run), stdout);
                if (how == 'u') {
                    std::fprintf(stdout, "\\u%04x", *p);
                } else {
                    std::putc('\\', stdout);
                    std::putc(how, stdout);
                }
                run = p + 1;
            }
            ++p;
        }
        if (p > run) std::fwrite(run, 1, static_cast<size_t>(p - run), stdout);
    }
    std::putc('"', stdout);
}
