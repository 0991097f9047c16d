#pragma once

#include <cstdio>

#include "cgi/request.h"

// true when two texts are equal, compared over the whole of `given` without an
// early exit at the first differing byte, so the time taken does not tell
// how much of a guess was right.
bool same_secret(const char *secret, const char *given);

// true when the request may go on: the node password is unset or empty, or
// the request carries it exactly in the X-Kelm-Password header, as a Bearer
// token in Authorization, or as the pwd parameter of the query text (never
// of the body).
bool node_auth_ok(const request &req);

// Writes the complete 401 reply that refuses a request without the
// password.
void reply_auth_refused(FILE *out);
