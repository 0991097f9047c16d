#include "control.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "../reply/head.h"
#include "../reply/json_str.h"
#include "../reply/utc_now.h"
#include "capture.h"
#include "cid.h"
#include "runtime_missing.h"

namespace {

bool known_op(const char *op) {
    return std::strcmp(op, "start") == 0 || std::strcmp(op, "stop") == 0 || std::strcmp(op, "restart") == 0;
}

}  // namespace

int action_control(int is_post, const char *op, const char *cid, const runtime_selection &rt) {
    if (!is_post) {
        json_header_status("405 Method Not Allowed");
        std::fputs("{\"ok\":false,\"error\":\"control_requires_post\","
                   "\"hint\":\"POST ?action=control&op=start|stop|restart&cid=<id>\"}\n",
                   stdout);
        return 0;
    }
    if (!rt.available) {
        reply_runtime_missing();
        return 0;
    }
    if (!known_op(op)) {
        json_header_status("400 Bad Request");
        std::fputs("{\"ok\":false,\"error\":\"invalid_op\",\"supported\":[\"start\",\"stop\",\"restart\"]}\n", stdout);
        return 0;
    }
    if (!valid_cid(cid)) {
        json_header_status("400 Bad Request");
        std::fputs("{\"ok\":false,\"error\":\"invalid_cid\","
                   "\"message\":\"cid must match [A-Za-z0-9_.-]{1,128} and may not start with - or .\"}\n",
                   stdout);
        return 0;
    }

    char command[kCommandSize];
    std::snprintf(command, sizeof command, "'%s' %s %s 2>&1", rt.bin, op, cid);
    int status = -1;
    char *output = run_capture(command, &status);
    char utc[kUtcTextSize];
    utc_now(utc);

    json_head_for_exit(status);
    std::fputs(",\"action\":\"control\",\"op\":", stdout);
    json_str(op);
    std::fputs(",\"cid\":", stdout);
    json_str(cid);
    std::fprintf(stdout, ",\"exit_code\":%d,\"output\":", status);
    json_str(output);
    std::fputs(",\"utc\":", stdout);
    json_str(utc);
    std::fputs("}\n", stdout);
    std::free(output);
    return 0;
}
