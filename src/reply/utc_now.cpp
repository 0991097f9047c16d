#include "utc_now.h"

#include <cstring>
#include <ctime>

void utc_now(char *out) {
    static const char kFallback[] = "1970-01-01T00:00:00Z";
    std::time_t now = std::time(nullptr);
    std::tm parts;
    size_t n = 0;
    if (now != static_cast<std::time_t>(-1) && gmtime_r(&now, &parts))
        n = std::strftime(out, kUtcTextSize, "%Y-%m-%dT%H:%M:%SZ", &parts);
    if (n == 0) {
        std::strncpy(out, kFallback, kUtcTextSize - 1);
        out[kUtcTextSize - 1] = '\0';
    }
}
