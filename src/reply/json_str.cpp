#include "reply/json_str.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// 0 for bytes that pass unchanged, else the letter of a short escape, or
// 'u' for the \u00XX form.
struct escape_table {
    char how[256];
    constexpr escape_table() : how() {
        for (int c = 0; c < 0x20; ++c) how[c] = 'u';
        how[0x09] = 't';   // tab
        how[0x0a] = 'n';   // line feed
        how[0x0d] = 'r';   // carriage return
        how[0x22] = '"';   // quotation mark
        how[0x5c] = '\\';  // backslash
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

// Number of bytes from p on (before end) that pass unchanged. The reply may
// carry a whole captured output, so plain stretches are passed over sixteen
// or eight bytes at a time.
size_t plain_span(const unsigned char *p, const unsigned char *end) {
    const unsigned char *q = p;
#if defined(__SSE2__)
    const __m128i last_control = _mm_set1_epi8(0x1f);
    const __m128i quote = _mm_set1_epi8('"');
    const __m128i backslash = _mm_set1_epi8('\\');
    while (end - q >= 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(q));
        const __m128i control = _mm_cmpeq_epi8(_mm_min_epu8(v, last_control), v);
        const __m128i special =
            _mm_or_si128(control, _mm_or_si128(_mm_cmpeq_epi8(v, quote), _mm_cmpeq_epi8(v, backslash)));
        const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(special));
        if (mask) return static_cast<size_t>(q - p) + static_cast<size_t>(__builtin_ctz(mask));
        q += 16;
    }
#endif
    while (end - q >= 8) {
        std::uint64_t w;
        std::memcpy(&w, q, sizeof w);
        if (has_special(w)) break;
        q += 8;
    }
    while (q < end && !kEscape.how[*q]) ++q;
    return static_cast<size_t>(q - p);
}

}  // namespace

void json_str(FILE *out, const char *text) {
    std::putc('"', out);
    if (text) {
        // Runs of plain bytes go out in one write.
        const unsigned char *p = reinterpret_cast<const unsigned char *>(text);
        const unsigned char *const end = p + std::strlen(text);
        for (;;) {
            const size_t plain = plain_span(p, end);
            if (plain) std::fwrite(p, 1, plain, out);
            p += plain;
            if (p == end) break;
            const char how = kEscape.how[*p];
            if (how == 'u') {
                std::fprintf(out, "\\u%04x", *p);
            } else {
                std::putc('\\', out);
                std::putc(how, out);
            }
            ++p;
        }
    }
    std::putc('"', out);
}
