#pragma once

#include "proc/runner.h"
#include "cgi/request.h"

// Answers one request that main has read: the 401 reply when the node
// password is missing or wrong; otherwise the JSON API when the query
// text holds "action=" or "format=json" or the body holds "action=", and
// the page for anything else. Runtime commands run through `runner`.
// Writes exactly one complete reply on standard output. Returns 0.
int serve_request(const request &req, command_runner &runner);
