#pragma once

#include <ctime>
#include <string>

// The time text of second t as the C library writes it ("%Y-%m-%dT%H:%M:%SZ"
// in UTC): the reference the program's own utc is held against.
inline std::string libc_utc(time_t t) {
    char text[64];
    std::tm parts;
    gmtime_r(&t, &parts);
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}
