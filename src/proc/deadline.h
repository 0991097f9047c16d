#pragma once

#include <ctime>

// The moment by which a request must be done with its input and its
// runtime commands. A request without a deadline waits as long as its
// host and its commands take.
struct deadline {
    bool none;     // no deadline at all
    timespec at;   // CLOCK_MONOTONIC instant, when there is one
    int seconds;   // the length it was made from, for messages
};

// A deadline `seconds` after `started` (CLOCK_MONOTONIC); 0 seconds gives
// none.
deadline deadline_after(const timespec &started, int seconds);

// Milliseconds left until `d`, rounded up so that a wait never ends just
// before it; 0 once it has passed; -1 (wait without end) when there is
// none.
int deadline_left_ms(const deadline &d);

// The current CLOCK_MONOTONIC instant.
timespec monotonic_now();
