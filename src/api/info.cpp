#include "api/info.h"

#include <unistd.h>

#include <cstdio>

#include "api/control.h"
#include "api/runtime_block.h"
#include "reply/head.h"
#include "reply/json_str.h"
#include "reply/utc_now.h"
#include "reply/version.h"

void action_info(const action_call &call) {
    FILE *const out = call.out;
    char utc[kUtcTextSize];
    utc_now(utc);
    json_header(out);
    std::fputs("{\"ok\":true,\"action\":\"info\",\"plugin\":\"hullmon\",\"slug\":\"docker\",\"version\":\"" HULLMON_VERSION "\",",
               out);
    emit_runtime_block(out, call.rt);
    std::fprintf(out, ",\"pid\":%ld", static_cast<long>(getpid()));
    std::fputs(",\"utc\":", out);
    json_str(out, utc);
    std::fputs(",\"supported\":", out);
    write_supported_actions(out);
    std::fputs(",\"control\":{\"method\":\"POST\",\"ops\":", out);
    write_control_ops(out);
    std::fputs("}}\n", out);
}
