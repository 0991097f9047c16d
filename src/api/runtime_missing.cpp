#include "api/runtime_missing.h"

#include <cstdio>

#include "reply/head.h"

void reply_runtime_missing(FILE *out) {
    json_header_status(out, "503 Service Unavailable");
    std::fputs("{\"ok\":false,\"error\":\"runtime_available\",\"runtime\":{\"available\":false},"
               "\"message\":\"Neither docker nor podman was found on this node\"}\n",
               out);
}
