#pragma once

#include "cgi/request.h"

// Largest POST body the program keeps; longer bodies are cut to it.
constexpr long kMaxBody = 8192;
// Most a run reads of a POST body in all. What lies beyond what is kept is
// read and thrown away, because web servers that hand the body over a pipe
// (fcgiwrap, Apache's mod_cgid) break or drop the reply of a program that
// ends with part of its body unread.
constexpr long kMaxDrain = 1 << 20;

// 1 when REQUEST_METHOD is exactly "POST", else 0.
int is_post_request();

// Reads the POST body that content_length announces from standard input:
// keeps the first kMaxBody bytes as a terminated text, reads and discards
// the rest up to the announced length and at most kMaxDrain bytes in all. Stops early at end of input, on a read
// error, when the host hangs up, or when `until` passes. Returns null when
// there is no usable length or no memory (the body is still read); a body
// shorter than announced is kept as it is.
struct deadline;
heap_text read_post_body(const char *content_length, const deadline &until);

// Fills req from the environment and, for a POST, from standard input;
// req->started must already hold the start of the run.
void read_request(request *req);
