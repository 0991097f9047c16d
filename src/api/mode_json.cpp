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
    get_query_val(req.query, "action", action, sizeof action);
    get_query_val(req.query, "cid", cid, sizeof cid);
    get_query_val(req.query, "op", op, sizeof op);
    get_query_val(req.query, "usage", usage, sizeof usage);
    const char *body = req.body.get();
    if (body && *body) {
        if (!action[0]) get_query_val(body, "action", action, sizeof action);
        if (!cid[0]) get_query_val(body, "cid", cid, sizeof cid);
        if (!op[0]) get_query_val(body, "op", op, sizeof op);
        if (!usage[0]) get_query_val(body, "usage", usage, sizeof usage);
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
