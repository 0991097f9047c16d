#pragma once

#include <cstdio>

#include "api/runtime.h"
#include "cgi/request.h"
#include "proc/runner.h"

// Parameter buffers, terminator included: a value keeps at most size - 1
// encoded characters.
constexpr unsigned kActionSize = 64;
constexpr unsigned kCidSize = 192;
constexpr unsigned kOpSize = 32;
constexpr unsigned kUsageSize = 8;
// Capacity of the command lines the actions build, terminator included.
constexpr unsigned kCommandSize = 1024;

// One JSON request as an action sees it: the stream its reply goes to, the
// request, its parameters (the query text's, the body filling what it
// lacks; empty when missing), the runtime chosen for it and the runner of
// its commands.
struct action_call {
    FILE *out;
    const request &req;
    const char *action;
    const char *cid;
    const char *op;
    const char *usage;  // the list's usage switch: "0" asks for the rows alone
    const runtime_selection &rt;
    command_runner &runner;
};

// An action writes exactly one complete reply to call.out.
using action_handler = void (*)(const action_call &call);

struct action_entry {
    const char *name;
    action_handler handler;
};

// The actions, in the order the replies list them as "supported". Routing
// compares names exactly; an empty action is the listing.
extern const action_entry kActions[];
extern const int kActionCount;

// Writes the "supported" array of action names: ["list","info",...].
void write_supported_actions(FILE *out);

// The handler for `name` (compared exactly), the listing for the empty
// name, or null for an unknown action.
action_handler find_action(const char *name);
