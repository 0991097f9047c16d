#pragma once

#include <cstddef>

// Capacity of the raw state text and of its lowered copy.
constexpr size_t kRawStateSize = 64;

// Turns the runtime's state text into the state word the dashboard knows:
// the first of paused, restart(ing), dead, created, exited/stopped/exit,
// up/running found anywhere in the ASCII-lowered text decides; otherwise
// the lowered text itself. out receives at most size - 1 bytes.
void normalize_state(const char *raw, char *out, size_t size);
