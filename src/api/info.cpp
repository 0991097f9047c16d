#include "api/info.h"

#include <unistd.h>

#include <cstdio>

#include "reply/version.h"
#include "reply/head.h"
#include "reply/json_str.h"
#include "api/runtime_block.h"
#include "reply/utc_now.h"
#include "api/control.h"

void action_info(const action_call &call) {
    char utc[kUtcTextSize];
    utc_now(utc);
    json_header();
    std::fputs("{\"ok\":true,\"action\":\"info\",\"plugin\":\"hullmon\",\"slug\":\"docker\",\"version\":\"" HULLMON_VERSION "\",",
               stdout);
    emit_runtime_block(call.rt.bin, call.rt.label, call.rt.available);
    std::fprintf(stdout, ",\"pid\":%ld", static_cast<long>(getpid()));
    std::fputs(",\"utc\":", stdout);
    json_str(utc);
    std::fputs(",\"supported\":", stdout);
    write_supported_actions();
    std::fputs(",\"control\":{\"method\":\"POST\",\"ops\":", stdout);
    write_control_ops();
    std::fputs("}}\n", stdout);
}
