#pragma once

#include "cgi/request.h"
#include "proc/runner.h"

// The JSON API: gathers action, cid and op (the query text first, the body
// filling what it lacks), selects the runtime from the request's DOCKER_BIN
// and PATH, and has the action named answer with exactly one reply on
// standard output: list, logs, control, info, or the 400 reply for an
// unknown action. Runtime commands run through `runner`. Returns 0.
int mode_json(const request &req, command_runner &runner);
