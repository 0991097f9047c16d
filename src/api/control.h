#pragma once

#include <cstdio>

#include "api/action.h"

// The control action. Checks, in this order, each with its own refusal:
// POST only (405); a request made by a page of another origin (403, see
// cross_origin_request); the runtime (503); the operation (start, stop or
// restart: 400); the identifier (400). Then runs "<op> <cid>" and writes
// the control reply (409 when the command fails or the deadline ends it).
void action_control(const action_call &call);

// Writes the array of operations the control action accepts:
// ["start","stop","restart"].
void write_control_ops(FILE *out);
