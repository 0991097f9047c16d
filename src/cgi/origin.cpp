#include "cgi/origin.h"

#include <strings.h>

#include <cstring>

bool cross_origin_request(const char *sec_fetch_site, const char *origin, const char *host) {
    if (sec_fetch_site) return std::strcmp(sec_fetch_site, "same-origin") != 0 && std::strcmp(sec_fetch_site, "none") != 0;
    if (!origin) return false;
    if (!host) return true;
    const char *rest = nullptr;
    if (strncasecmp(origin, "http://", 7) == 0) {
        rest = origin + 7;
    } else if (strncasecmp(origin, "https://", 8) == 0) {
        rest = origin + 8;
    } else {
        return true;
    }
    // An origin never holds a path; one that does was not made by a browser.
    if (!*rest || std::strchr(rest, '/')) return true;
    return strcasecmp(rest, host) != 0;
}
