#include "reply/head.h"

#include <cstdio>

const char kJsonHead[] =
    "Content-Type: application/json; charset=utf-8\r\n"
    "Cache-Control: no-store\r\n"
    "X-Content-Type-Options: nosniff\r\n"
    "\r\n";
const unsigned kJsonHeadLen = sizeof kJsonHead - 1;

void json_header() { std::fwrite(kJsonHead, 1, kJsonHeadLen, stdout); }

void json_header_status(const char *status) {
    std::fputs("Status: ", stdout);
    std::fputs(status, stdout);
    std::fputs("\r\n", stdout);
    json_header();
}

void json_head_for_exit(int exit_status) {
    if (exit_status == 0) {
        json_header();
        std::fputs("{\"ok\":true", stdout);
    } else {
        json_header_status("409 Conflict");
        std::fputs("{\"ok\":false", stdout);
    }
}
