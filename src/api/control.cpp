#include "api/control.h"

#include <cstdio>
#include <cstring>

#include "api/cid.h"
#include "api/runtime_missing.h"
#include "cgi/origin.h"
#include "reply/head.h"
#include "reply/json_str.h"
#include "reply/utc_now.h"

namespace {

// The operations, in the order the replies list them. Only these words
// ever follow the runtime's name on a control command line.
const char *const kOps[] = {"start", "stop", "restart"};

bool known_op(const char *op) {
    for (const char *known : kOps)
        if (std::strcmp(op, known) == 0) return true;
    return false;
}

}  // namespace

void write_control_ops(FILE *out) {
    std::putc('[', out);
    for (size_t i = 0; i < sizeof kOps / sizeof kOps[0]; ++i) {
        if (i) std::putc(',', out);
        json_str(out, kOps[i]);
    }
    std::putc(']', out);
}

void action_control(const action_call &call) {
    FILE *const out = call.out;
    const char *op = call.op;
    const char *cid = call.cid;
    const runtime_selection &rt = call.rt;
    if (!call.req.is_post) {
        json_header_status(out, "405 Method Not Allowed");
        std::fputs("{\"ok\":false,\"error\":\"control_requires_post\","
                   "\"hint\":\"POST ?action=control&op=start|stop|restart&cid=<id>\"}\n",
                   out);
        return;
    }
    // A form on any web page can make the operator's browser post here
    // without asking; the browser's own headers tell such a request apart.
    if (cross_origin_request(call.req.sec_fetch_site, call.req.origin, call.req.host)) {
        json_header_status(out, "403 Forbidden");
        std::fputs("{\"ok\":false,\"error\":\"cross_origin\","
                   "\"message\":\"control requests must come from the dashboard page itself\"}\n",
                   out);
        return;
    }
    if (!rt.available) {
        reply_runtime_missing(out);
        return;
    }
    if (!known_op(op)) {
        json_header_status(out, "400 Bad Request");
        std::fputs("{\"ok\":false,\"error\":\"invalid_op\",\"supported\":", out);
        write_control_ops(out);
        std::fputs("}\n", out);
        return;
    }
    if (!valid_cid(cid)) {
        json_header_status(out, "400 Bad Request");
        std::fputs("{\"ok\":false,\"error\":\"invalid_cid\","
                   "\"message\":\"cid must match [A-Za-z0-9_.-]{1,128} and may not start with - or .\"}\n",
                   out);
        return;
    }

    char command[kCommandSize];
    std::snprintf(command, sizeof command, "'%s' %s %s 2>&1", rt.bin, op, cid);
    const char *commands[] = {command};
    command_output result;
    call.runner.run(commands, &result, 1);
    char utc[kUtcTextSize];
    utc_now(utc);

    json_head_for_exit(out, result.status);
    std::fputs(",\"action\":\"control\",\"op\":", out);
    json_str(out, op);
    std::fputs(",\"cid\":", out);
    json_str(out, cid);
    std::fprintf(out, ",\"exit_code\":%d,\"output\":", result.status);
    json_str(out, result.text.get());
    std::fputs(",\"utc\":", out);
    json_str(out, utc);
    std::fputs("}\n", out);
}
