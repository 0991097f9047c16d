#include "api/logs.h"

#include <cstdio>
#include <cstring>

#include "api/cid.h"
#include "api/fields.h"
#include "api/runtime_missing.h"
#include "reply/head.h"
#include "reply/json_str.h"

void next_log_element(const char **pos, char *line) { next_line(pos, line, kLogLineMax); }

void action_logs(const action_call &call) {
    FILE *const out = call.out;
    const char *cid = call.cid;
    const runtime_selection &rt = call.rt;
    if (!valid_cid(cid)) {
        json_header_status(out, "400 Bad Request");
        std::fputs("{\"ok\":false,\"error\":\"invalid_cid\",\"cid\":", out);
        json_str(out, cid);
        std::fputs("}\n", out);
        return;
    }
    if (!rt.available) {
        reply_runtime_missing(out);
        return;
    }

    char command[kCommandSize];
    std::snprintf(command, sizeof command, "'%s' logs --tail %d %s 2>&1", rt.bin, kLogTail, cid);
    const char *commands[] = {command};
    command_output result;
    call.runner.run(commands, &result, 1);
    const int status = result.status;
    const char *text = result.text.get();

    json_head_for_exit(out, status);
    std::fputs(",\"action\":\"logs\",\"cid\":", out);
    json_str(out, cid);
    std::fprintf(out, ",\"tail\":%d,\"exit_code\":%d,\"lines\":[", kLogTail, status);
    if (text) {
        char line[kLogLineMax + 1];
        bool first = true;
        for (const char *pos = text; *pos;) {
            next_log_element(&pos, line);
            if (!first) std::putc(',', out);
            first = false;
            json_str(out, line);
        }
    }
    std::fputs("],\"text\":", out);
    json_str(out, text);
    std::fputs("}\n", out);
}
