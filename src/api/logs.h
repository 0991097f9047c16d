#pragma once

#include <cstddef>

#include "api/action.h"

// Log lines a logs request asks the runtime for.
constexpr int kLogTail = 100;
// Longest element of the "lines" array, in bytes.
constexpr size_t kLogLineMax = 2047;

// Cuts the next element of the "lines" array from *pos into line (which
// holds kLogLineMax + 1 bytes): up to the next LF, at most kLogLineMax
// bytes; then skips every LF and CR that follows. Call only while **pos is
// not the terminator.
void next_log_element(const char **pos, char *line);

// The logs action: checks the identifier, then the runtime, runs
// "logs --tail 100 <cid>" and writes the logs reply (409 when the command
// fails, or the deadline ends it).
void action_logs(const action_call &call);
