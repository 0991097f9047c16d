#pragma once

#include "runtime.h"

// The control action: POST only; then the runtime, the operation (start,
// stop or restart) and the identifier are checked in that order; runs
// "<op> <cid>" and writes the control reply (409 when the command fails).
// Returns 0.
int action_control(int is_post, const char *op, const char *cid, const runtime_selection &rt);
