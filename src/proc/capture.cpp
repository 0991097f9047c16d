#include "proc/capture.h"

#include <sys/wait.h>

#include <cstdlib>
#include <cstring>

namespace {

constexpr size_t kFirstCapacity = 8192;

}  // namespace

int capture_reserve(capture_text *cap, size_t n) {
    size_t need = cap->length + n + 1;
    if (need <= cap->capacity) return 1;
    size_t grown = cap->capacity ? cap->capacity * 2 : kFirstCapacity;
    while (need > grown) grown *= 2;
    char *bigger = static_cast<char *>(std::realloc(cap->text, grown));
    if (!bigger) return 0;
    cap->text = bigger;
    cap->capacity = grown;
    return 1;
}

int capture_append(capture_text *cap, const char *data, size_t n) {
    if (!capture_reserve(cap, n)) return 0;
    char *out = cap->text + cap->length;
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
    cap->length = static_cast<size_t>(out - cap->text);
    cap->text[cap->length] = '\0';
    return 1;
}

int exit_status_of(int wait_status) {
    if (wait_status == -1) return -1;
    if (WIFEXITED(wait_status)) return WEXITSTATUS(wait_status);
    if (WIFSIGNALED(wait_status)) return 128 + WTERMSIG(wait_status);
    return -1;
}
