#include "proc/deadline.h"

#include <climits>

timespec monotonic_now() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now;
}

deadline deadline_after(const timespec &started, int seconds) {
    deadline d;
    d.none = seconds <= 0;
    d.at = started;
    d.at.tv_sec += seconds > 0 ? seconds : 0;
    d.seconds = seconds;
    return d;
}

int deadline_left_ms(const deadline &d) {
    if (d.none) return -1;
    const timespec now = monotonic_now();
    long long ns = (static_cast<long long>(d.at.tv_sec) - now.tv_sec) * 1000000000LL + (d.at.tv_nsec - now.tv_nsec);
    if (ns <= 0) return 0;
    long long ms = (ns + 999999) / 1000000;
    return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}
