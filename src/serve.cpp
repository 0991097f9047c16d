#include "serve.h"

#include <cstdio>
#include <cstring>

#include "api/mode_json.h"
#include "page/page.h"
#include "cgi/auth.h"
#include "cgi/query.h"

namespace {

// Room for the embed parameter: 15 raw characters and the terminator.
constexpr size_t kEmbedSize = 16;

}  // namespace

int serve_request(const request &req, command_runner &runner) {
    if (!node_auth_ok(req)) {
        std::fwrite(kAuthRefusal, 1, kAuthRefusalLen, stdout);
        return 0;
    }

    const char *query = req.query;
    if (std::strstr(query, "action=") || std::strstr(query, "format=json") ||
        (req.body && std::strstr(req.body.get(), "action=")))
        return mode_json(req, runner);

    char embed[kEmbedSize];
    int embedded = get_query_val(query, "embed", embed, sizeof embed) &&
                   (std::strcmp(embed, "1") == 0 || std::strcmp(embed, "true") == 0);
    return mode_html(embedded);
}
