#include "reply/utc_now.h"

#include <cstring>
#include <ctime>

namespace {

void put_digits(char *at, long value, int width) {
    for (int i = width - 1; i >= 0; --i) {
        at[i] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
}

}  // namespace

// The calendar breakdown of a time from 1970 up to the end of year 9999,
// done by arithmetic: gmtime would first load the node's time zone file,
// which costs a file read and heap blocks on every request for a result
// UTC never needs. Returns false outside that range.
bool format_utc(std::time_t now, char *out) {
    if (now < 0) return false;
    const long long days = now / 86400;
    const long secs = static_cast<long>(now % 86400);
    // Civil date from a day count, with years starting in March so that
    // the leap day comes last.
    const long long z = days + 719468;
    const long long era = z / 146097;
    const long long doe = z - era * 146097;
    const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long long mp = (5 * doy + 2) / 153;
    const long day = static_cast<long>(doy - (153 * mp + 2) / 5 + 1);
    const long month = static_cast<long>(mp < 10 ? mp + 3 : mp - 9);
    const long long year = yoe + era * 400 + (month <= 2);
    if (year > 9999) return false;
    std::memcpy(out, "0000-00-00T00:00:00Z", 21);
    put_digits(out, static_cast<long>(year), 4);
    put_digits(out + 5, month, 2);
    put_digits(out + 8, day, 2);
    put_digits(out + 11, secs / 3600, 2);
    put_digits(out + 14, secs / 60 % 60, 2);
    put_digits(out + 17, secs % 60, 2);
    return true;
}

void utc_now(char *out) {
    static const char kFallback[] = "1970-01-01T00:00:00Z";
    std::time_t now = std::time(nullptr);
    if (now != static_cast<std::time_t>(-1) && format_utc(now, out)) return;
    std::tm parts;
    size_t n = 0;
    if (now != static_cast<std::time_t>(-1) && gmtime_r(&now, &parts))
        n = std::strftime(out, kUtcTextSize, "%Y-%m-%dT%H:%M:%SZ", &parts);
    if (n == 0) {
        std::strncpy(out, kFallback, kUtcTextSize - 1);
        out[kUtcTextSize - 1] = '\0';
    }
}
