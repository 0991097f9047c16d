#pragma once

#include <cstdio>

// Writes text to out as one JSON string literal, quotes included. Tab, LF, CR,
// quote and backslash take their two-character escapes, every other byte
// below 0x20 becomes \u00XX; all other bytes (0x7F and 0x80..0xFF included)
// pass unchanged, so UTF-8 goes out as it came. A null text writes "".
void json_str(FILE *out, const char *text);
