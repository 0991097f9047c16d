#include "cgi/intake.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "proc/signals.h"

namespace {

// Reads up to n bytes into buf, waiting for input no longer than `until`.
// Returns what read(2) returned, or 0 when the wait ended without input
// (the deadline passed or the host hung up).
ssize_t read_some(char *buf, size_t n, const deadline &until) {
    for (;;) {
        if (host_hung_up()) return 0;
        pollfd in = {STDIN_FILENO, POLLIN, 0};
        int ready = poll_letting_signals_in(&in, 1, deadline_left_ms(until));
        if (ready < 0 && errno == EINTR) continue;
        if (ready == 0) return 0;
        ssize_t got = read(STDIN_FILENO, buf, n);
        if (got < 0 && errno == EINTR) continue;
        return got;
    }
}

}  // namespace

int timeout_from_text(const char *text) {
    if (!text || !*text) return kDefaultTimeout;
    long value = 0;
    for (const char *p = text; *p; ++p) {
        if (*p < '0' || *p > '9') return kDefaultTimeout;
        value = value * 10 + (*p - '0');
        if (value > kMaxTimeout) return kDefaultTimeout;
    }
    return static_cast<int>(value);
}

deadline request_deadline(const request &req) { return deadline_after(req.started, req.timeout_seconds); }

bool is_post_request() {
    const char *method = std::getenv("REQUEST_METHOD");
    return method && std::strcmp(method, "POST") == 0;
}

heap_text read_post_body(const char *content_length, const deadline &until) {
    if (!content_length || !*content_length) return nullptr;
    long announced = std::strtol(content_length, nullptr, 10);
    if (announced <= 0) return nullptr;
    const long keep = announced < kMaxBody ? announced : kMaxBody;
    const long total = announced < kMaxDrain ? announced : kMaxDrain;

    heap_text kept(static_cast<char *>(std::malloc(static_cast<size_t>(keep) + 1)));
    char *const body = kept.get();
    // Straight from the descriptor: stdio would read ahead past the
    // announced length, and nothing beyond it belongs to this request.
    long got = 0;
    bool ended = false;
    if (body) {
        while (got < keep) {
            ssize_t n = read_some(body + got, static_cast<size_t>(keep - got), until);
            if (n <= 0) {
                ended = true;
                break;
            }
            got += n;
        }
        body[got] = '\0';
    }
    // The rest is read only so the host can deliver the reply.
    char scrap[16384];
    for (long drained = got; !ended && drained < total;) {
        long want = total - drained;
        ssize_t n = read_some(scrap, static_cast<size_t>(want < static_cast<long>(sizeof scrap) ? want : sizeof scrap),
                              until);
        if (n <= 0) break;
        drained += n;
    }
    return kept;
}

void read_request(request *req) {
    const char *query = std::getenv("QUERY_STRING");
    req->query_set = query != nullptr;
    req->query = query ? query : "";
    req->is_post = is_post_request();

    req->password = std::getenv("KELM_PASSWORD");
    req->header_password = std::getenv("HTTP_X_KELM_PASSWORD");
    req->authorization = std::getenv("HTTP_AUTHORIZATION");
    req->docker_bin = std::getenv("DOCKER_BIN");
    req->path = std::getenv("PATH");
    req->sec_fetch_site = std::getenv("HTTP_SEC_FETCH_SITE");
    req->origin = std::getenv("HTTP_ORIGIN");
    req->host = std::getenv("HTTP_HOST");
    req->timeout_seconds = timeout_from_text(std::getenv("HULLMON_TIMEOUT"));

    if (req->is_post) req->body = read_post_body(std::getenv("CONTENT_LENGTH"), request_deadline(*req));
}
