#include "serve.h"

#include <cstring>

#include "api/mode_json.h"
#include "cgi/auth.h"
#include "cgi/query.h"
#include "page/page.h"

namespace {

// Room for the embed parameter: 15 raw characters and the terminator.
constexpr size_t kEmbedSize = 16;

}  // namespace

void serve_request(FILE *out, const request &req, command_runner &runner) {
    if (!node_auth_ok(req)) {
        reply_auth_refused(out);
        return;
    }

    const char *query = req.query;
    if (std::strstr(query, "action=") || std::strstr(query, "format=json") ||
        (req.body && std::strstr(req.body.get(), "action="))) {
        mode_json(out, req, runner);
        return;
    }

    char embed[kEmbedSize];
    const bool embedded = get_query_val(query, "embed", embed, sizeof embed) &&
                          (std::strcmp(embed, "1") == 0 || std::strcmp(embed, "true") == 0);
    mode_html(out, embedded);
}
