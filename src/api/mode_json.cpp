#include "api/mode_json.h"

#include <cstdio>

#include "api/action.h"
#include "api/runtime.h"
#include "cgi/query.h"
#include "reply/head.h"
#include "reply/json_str.h"

namespace {

void reply_unknown_action(FILE *out, const char *action) {
    json_header_status(out, "400 Bad Request");
    std::fputs("{\"ok\":false,\"error\":\"unknown_action\",\"action\":", out);
    json_str(out, action);
    std::fputs(",\"supported\":", out);
    write_supported_actions(out);
    std::fputs("}\n", out);
}

}  // namespace

void mode_json(FILE *out, const request &req, command_runner &runner) {
    char action[kActionSize];
    char cid[kCidSize];
    char op[kOpSize];
    char usage[kUsageSize];
    const struct {
        const char *name;
        char *value;
        size_t size;
    } params[] = {
        {"action", action, sizeof action},
        {"cid", cid, sizeof cid},
        {"op", op, sizeof op},
        {"usage", usage, sizeof usage},
    };
    // The query first; the body fills what it lacks.
    const char *body = req.body.get();
    for (const auto &p : params) {
        get_query_val(req.query, p.name, p.value, p.size);
        if (!p.value[0] && body && *body) get_query_val(body, p.name, p.value, p.size);
    }

    runtime_selection rt;
    select_runtime(&rt, req.docker_bin, req.path);

    action_handler handler = find_action(action);
    if (!handler) {
        reply_unknown_action(out, action);
        return;
    }
    handler(action_call{out, req, action, cid, op, usage, rt, runner});
}
