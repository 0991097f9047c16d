#include "api/action.h"

#include <cstdio>
#include <cstring>

#include "api/control.h"
#include "api/info.h"
#include "api/list.h"
#include "api/logs.h"
#include "reply/json_str.h"

const action_entry kActions[] = {
    {"list", action_list},
    {"info", action_info},
    {"logs", action_logs},
    {"control", action_control},
};
const int kActionCount = sizeof kActions / sizeof kActions[0];

void write_supported_actions(FILE *out) {
    std::putc('[', out);
    for (int i = 0; i < kActionCount; ++i) {
        if (i) std::putc(',', out);
        json_str(out, kActions[i].name);
    }
    std::putc(']', out);
}

action_handler find_action(const char *name) {
    if (!*name) return action_list;
    for (const action_entry &a : kActions)
        if (std::strcmp(a.name, name) == 0) return a.handler;
    return nullptr;
}
