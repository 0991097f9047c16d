#pragma once

// The JSON API: gathers action, cid and op (the query text first, the body
// filling what it lacks), selects the runtime and answers with exactly one
// reply on standard output: list, logs, control, info, or the 400 reply for
// an unknown action. query is never null; body may be. Returns 0.
int mode_json(const char *query, const char *body, int is_post);
