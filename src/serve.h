#pragma once

#include <cstdio>

#include "cgi/request.h"
#include "proc/runner.h"

// Answers one request that main has read: the 401 reply when the node
// password is missing or wrong; otherwise the JSON API when the query
// text holds "action=" or "format=json" or the body holds "action=", and
// the page for anything else. Runtime commands run through `runner`.
// Writes exactly one complete reply to out.
void serve_request(FILE *out, const request &req, command_runner &runner);
