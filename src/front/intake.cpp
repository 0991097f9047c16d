#include "intake.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

int is_post_request() {
    const char *method = std::getenv("REQUEST_METHOD");
    return method && std::strcmp(method, "POST") == 0;
}

char *read_post_body() {
    const char *length_text = std::getenv("CONTENT_LENGTH");
    if (!length_text || !*length_text) return nullptr;
    long want = std::strtol(length_text, nullptr, 10);
    if (want <= 0) return nullptr;
    if (want > kMaxBody) want = kMaxBody;

    char *body = static_cast<char *>(std::malloc(static_cast<size_t>(want) + 1));
    if (!body) return nullptr;
    // Read straight from the descriptor: stdio would read ahead past the
    // announced length, and nothing beyond it belongs to this request.
    long got = 0;
    while (got < want) {
        ssize_t n = read(STDIN_FILENO, body + got, static_cast<size_t>(want - got));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += n;
    }
    body[got] = '\0';
    return body;
}
