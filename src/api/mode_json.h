#pragma once

#include <cstdio>

#include "cgi/request.h"
#include "proc/runner.h"

// The JSON API: gathers action, cid, op and usage (the query text first,
// the body filling what it lacks), selects the runtime from the request's
// DOCKER_BIN and PATH, and has the action named answer with exactly one
// reply on out: list, logs, control, info, or the 400 reply for an unknown
// action. Runtime commands run through `runner`.
void mode_json(FILE *out, const request &req, command_runner &runner);
