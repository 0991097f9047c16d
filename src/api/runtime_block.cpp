#include "api/runtime_block.h"

#include <cstdio>

#include "reply/json_str.h"

void emit_runtime_block(const char *bin, const char *label, int available) {
    std::fputs("\"runtime\":{\"available\":", stdout);
    if (available) {
        std::fputs("true,\"bin\":", stdout);
        json_str(bin);
        std::fputs(",\"label\":", stdout);
        json_str(label);
    } else {
        std::fputs("false,\"bin\":\"\",\"label\":\"\"", stdout);
    }
    std::fputs("}", stdout);
}
