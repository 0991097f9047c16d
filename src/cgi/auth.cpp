#include "cgi/auth.h"

#include <cstring>

#include "cgi/query.h"
#include "reply/head.h"

namespace {

// Room for the pwd parameter: 255 raw characters and the terminator.
constexpr size_t kPwdSize = 256;

}  // namespace

void reply_auth_refused(FILE *out) {
    json_header_status(out, "401 Unauthorized");
    std::fputs("{\"ok\":false,\"error\":\"invalid node password\"}\n", out);
}

bool same_secret(const char *secret, const char *given) {
    const size_t secret_len = std::strlen(secret);
    const size_t given_len = std::strlen(given);
    // Every byte of the guess is looked at; the secret is read cyclically
    // so that a guess longer than it costs the same per byte.
    unsigned diff = secret_len != given_len;
    for (size_t i = 0; i < given_len; ++i) {
        unsigned char s = static_cast<unsigned char>(secret[secret_len ? i % secret_len : 0]);
        diff |= s ^ static_cast<unsigned char>(given[i]);
    }
    return diff == 0;
}

bool node_auth_ok(const request &req) {
    const char *password = req.password;
    if (!password || !*password) return true;

    if (req.header_password && same_secret(password, req.header_password)) return true;

    if (req.authorization) {
        const char *p = req.authorization;
        while (*p == ' ') ++p;
        if (std::strncmp(p, "Bearer ", 7) == 0) {
            p += 7;
            while (*p == ' ') ++p;
            if (same_secret(password, p)) return true;
        }
    }

    if (req.query_set) {
        char pwd[kPwdSize];
        if (get_query_val(req.query, "pwd", pwd, sizeof pwd) && same_secret(password, pwd)) return true;
    }
    return false;
}
