#include "mode_json.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "../front/query.h"
#include "../front/version.h"
#include "../reply/head.h"
#include "../reply/json_str.h"
#include "../reply/runtime_block.h"
#include "../reply/utc_now.h"
#include "control.h"
#include "list.h"
#include "logs.h"
#include "runtime.h"

namespace {

// Parameter buffers, terminator included.
constexpr size_t kActionSize = 64;
constexpr size_t kCidSize = 192;
constexpr size_t kOpSize = 32;

void reply_info(const runtime_selection &rt) {
    char utc[kUtcTextSize];
    utc_now(utc);
    json_header();
    std::fputs("{\"ok\":true,\"action\":\"info\",\"plugin\":\"hullmon\",\"slug\":\"docker\",\"version\":\"" HULLMON_VERSION "\",",
               stdout);
    emit_runtime_block(rt.bin, rt.label, rt.available);
    std::fprintf(stdout, ",\"pid\":%ld", static_cast<long>(getpid()));
    std::fputs(",\"utc\":", stdout);
    json_str(utc);
    std::fputs(",\"supported\":[\"list\",\"info\",\"logs\",\"control\"],"
               "\"control\":{\"method\":\"POST\",\"ops\":[\"start\",\"stop\",\"restart\"]}}\n",
               stdout);
}

void reply_unknown_action(const char *action) {
    json_header_status("400 Bad Request");
    std::fputs("{\"ok\":false,\"error\":\"unknown_action\",\"action\":", stdout);
    json_str(action);
    std::fputs(",\"supported\":[\"list\",\"info\",\"logs\",\"control\"]}\n", stdout);
}

}  // namespace

int mode_json(const char *query, const char *body, int is_post) {
    char action[kActionSize];
    char cid[kCidSize];
    char op[kOpSize];
    get_query_val(query, "action", action, sizeof action);
    get_query_val(query, "cid", cid, sizeof cid);
    get_query_val(query, "op", op, sizeof op);
    if (body && *body) {
        if (!action[0]) get_query_val(body, "action", action, sizeof action);
        if (!cid[0]) get_query_val(body, "cid", cid, sizeof cid);
        if (!op[0]) get_query_val(body, "op", op, sizeof op);
    }

    runtime_selection rt;
    select_runtime(&rt);

    if (std::strcmp(action, "control") == 0) return action_control(is_post, op, cid, rt);
    if (std::strcmp(action, "logs") == 0) return action_logs(cid, rt);
    if (action[0]) {
        if (std::strcmp(action, "info") == 0) {
            reply_info(rt);
            return 0;
        }
        if (std::strcmp(action, "list") != 0) {
            reply_unknown_action(action);
            return 0;
        }
    }
    return action_list(rt);
}
