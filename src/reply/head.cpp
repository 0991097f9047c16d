#include "reply/head.h"

// What every head ends with, whatever its content type.
#define HULLMON_HEAD_END                \
    "Cache-Control: no-store\r\n"       \
    "X-Content-Type-Options: nosniff\r\n" \
    "\r\n"

const char kJsonHead[] = "Content-Type: application/json; charset=utf-8\r\n" HULLMON_HEAD_END;
const unsigned kJsonHeadLen = sizeof kJsonHead - 1;
const char kHtmlHead[] = "Content-Type: text/html; charset=utf-8\r\n" HULLMON_HEAD_END;
const unsigned kHtmlHeadLen = sizeof kHtmlHead - 1;

void json_header(FILE *out) { std::fwrite(kJsonHead, 1, kJsonHeadLen, out); }

void json_header_status(FILE *out, const char *status) {
    std::fputs("Status: ", out);
    std::fputs(status, out);
    std::fputs("\r\n", out);
    json_header(out);
}

void json_head_for_exit(FILE *out, int exit_status) {
    if (exit_status == 0) {
        json_header(out);
        std::fputs("{\"ok\":true", out);
    } else {
        json_header_status(out, "409 Conflict");
        std::fputs("{\"ok\":false", out);
    }
}
