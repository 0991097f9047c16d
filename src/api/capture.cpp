#include "capture.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// As much as a pipe holds by default, so that a long output costs few reads.
constexpr size_t kReadChunk = 65536;
constexpr size_t kFirstCapacity = 8192;

}  // namespace

int capture_append(capture_text *cap, const char *data, size_t n) {
    size_t need = cap->length + n + 1;
    if (need > cap->capacity) {
        size_t grown = cap->capacity ? cap->capacity * 2 : kFirstCapacity;
        while (need > grown) grown *= 2;
        char *bigger = static_cast<char *>(std::realloc(cap->text, grown));
        if (!bigger) return 0;
        cap->text = bigger;
        cap->capacity = grown;
    }
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

char *run_capture(const char *command, int *status) {
    *status = -1;
    // The program ignores SIGPIPE for its own output; the command must not
    // inherit that, or a tool writing into a closed pipe would spin on
    // errors instead of ending as it would from a shell.
    void (*previous)(int) = std::signal(SIGPIPE, SIG_DFL);
    std::FILE *pipe = popen(command, "r");
    std::signal(SIGPIPE, previous);
    if (!pipe) return nullptr;

    capture_text cap = {nullptr, 0, 0};
    char chunk[kReadChunk];
    // Straight from the descriptor: the stream would take the pipe 4096
    // bytes at a time, one system call each.
    const int fd = fileno(pipe);
    for (;;) {
        const ssize_t n = read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        if (!capture_append(&cap, chunk, static_cast<size_t>(n))) {
            std::free(cap.text);
            pclose(pipe);
            return nullptr;
        }
    }
    if (!cap.text) {
        cap.text = static_cast<char *>(std::malloc(1));
        if (!cap.text) {
            pclose(pipe);
            return nullptr;
        }
        cap.text[0] = '\0';
    }
    *status = exit_status_of(pclose(pipe));
    return cap.text;
}
