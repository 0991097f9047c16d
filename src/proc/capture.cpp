#include "proc/capture.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr size_t kFirstCapacity = 8192;

}  // namespace

bool capture_reserve(capture_text *cap, size_t n) {
    size_t need = cap->length + n + 1;
    if (need <= cap->capacity) return true;
    size_t grown = cap->capacity ? cap->capacity * 2 : kFirstCapacity;
    while (need > grown) grown *= 2;
    char *bigger = static_cast<char *>(std::realloc(cap->text.get(), grown));
    if (!bigger) return false;
    // realloc has taken the old block over, moved or not.
    cap->text.release();
    cap->text.reset(bigger);
    cap->capacity = grown;
    return true;
}

bool capture_append(capture_text *cap, const char *data, size_t n) {
    if (!capture_reserve(cap, n)) return false;
    char *const start = cap->text.get();
    char *out = start + cap->length;
    const char *end = data + n;
    // A CR is stored as it comes; an LF right after a stored CR takes its
    // place. Only a raw CR can be the last stored byte, so the pair is
    // recognised across reads as well.
    if (n && data[0] == '\n' && cap->length && out[-1] == '\r') {
        out[-1] = '\n';
        ++data;
    }
    while (data < end) {
        const char *cr = static_cast<const char *>(std::memchr(data, '\r', static_cast<size_t>(end - data)));
        if (!cr) {
            std::memcpy(out, data, static_cast<size_t>(end - data));
            out += end - data;
            break;
        }
        std::memcpy(out, data, static_cast<size_t>(cr - data));
        out += cr - data;
        if (cr + 1 < end && cr[1] == '\n') {
            *out++ = '\n';
            data = cr + 2;
        } else {
            *out++ = '\r';
            data = cr + 1;
        }
    }
    cap->length = static_cast<size_t>(out - start);
    start[cap->length] = '\0';
    return true;
}
