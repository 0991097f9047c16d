#include "api/runtime_missing.h"

#include <cstdio>

#include "reply/head.h"

void reply_runtime_missing() {
    json_header_status("503 Service Unavailable");
    std::fputs("{\"ok\":false,\"error\":\"runtime_available\",\"runtime\":{\"available\":false},"
               "\"message\":\"Neither docker nor podman was found on this node\"}\n",
               stdout);
}
