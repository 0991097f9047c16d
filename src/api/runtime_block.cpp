#include "api/runtime_block.h"

#include "reply/json_str.h"

void emit_runtime_block(FILE *out, const runtime_selection &rt) {
    std::fputs("\"runtime\":{\"available\":", out);
    if (rt.available) {
        std::fputs("true,\"bin\":", out);
        json_str(out, rt.bin);
        std::fputs(",\"label\":", out);
        json_str(out, rt.label);
    } else {
        std::fputs("false,\"bin\":\"\",\"label\":\"\"", out);
    }
    std::fputs("}", out);
}
