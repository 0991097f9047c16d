#pragma once

// 1 when two texts are equal, compared over the whole of `given` without an
// early exit at the first differing byte, so the time taken does not tell
// how much of a guess was right.
int same_secret(const char *secret, const char *given);

// 1 when the request may go on: KELM_PASSWORD is unset or empty, or the
// request carries it exactly in the X-Kelm-Password header, as a Bearer
// token in Authorization, or as the pwd parameter of the query text.
int node_auth_ok();

// Returns when node_auth_ok() allows the request; otherwise writes the
// fixed 401 reply and ends the process with exit status 0.
void require_node_auth();
