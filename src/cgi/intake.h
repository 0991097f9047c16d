#pragma once

#include "cgi/request.h"
#include "proc/deadline.h"
#include "proc/heap_text.h"

// Largest POST body the program keeps; longer bodies are cut to it.
constexpr long kMaxBody = 8192;
// Most a run reads of a POST body in all. What lies beyond what is kept is
// read and thrown away, because web servers that hand the body over a pipe
// (fcgiwrap, Apache's mod_cgid) break or drop the reply of a program that
// ends with part of its body unread.
constexpr long kMaxDrain = 1 << 20;

// Default deadline of a request, and the largest one HULLMON_TIMEOUT may
// set.
constexpr int kDefaultTimeout = 30;
constexpr int kMaxTimeout = 3600;

// HULLMON_TIMEOUT as a number of seconds: unset or empty gives 30; a
// decimal integer from 1 to 3600 is used as given; "0" means no deadline;
// any other text gives 30.
int timeout_from_text(const char *text);

// The request's deadline, for its POST body to arrive and its runtime
// commands to end: req.timeout_seconds after req.started (none for 0).
deadline request_deadline(const request &req);

// true when REQUEST_METHOD is exactly "POST".
bool is_post_request();

// Reads the POST body that content_length announces from standard input:
// keeps the first kMaxBody bytes as a terminated text, reads and discards
// the rest up to the announced length and at most kMaxDrain bytes in all. Stops early at end of input, on a read
// error, when the host hangs up, or when `until` passes. Returns null when
// there is no usable length or no memory (the body is still read); a body
// shorter than announced is kept as it is. Waits under the signal
// handling of proc/signals.h.
heap_text read_post_body(const char *content_length, const deadline &until);

// Fills req from the environment and, for a POST, from standard input
// within the request's deadline; req->started must already hold the start
// of the run.
void read_request(request *req);
