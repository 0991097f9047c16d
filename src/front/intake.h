#pragma once

// Largest POST body the program reads; longer bodies are cut to it.
constexpr long kMaxBody = 8192;

// 1 when REQUEST_METHOD is exactly "POST", else 0.
int is_post_request();

// Reads the POST body that CONTENT_LENGTH announces (at most kMaxBody
// bytes) from standard input. Returns a terminated heap text owned by the
// caller (release with free), or null when there is no usable length or
// no memory. A body shorter than announced is accepted as it is.
char *read_post_body();
