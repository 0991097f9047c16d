#pragma once

#include <cstdio>

// The CGI response heads. Every reply forbids caching and sniffing, and
// these two heads are the one place those lines are written.
//
// The head of every JSON reply: content type, no caching, no sniffing,
// then the empty line. Exactly 107 bytes.
extern const char kJsonHead[];
extern const unsigned kJsonHeadLen;
// The head of the page: the same with the HTML content type. Exactly 100
// bytes.
extern const char kHtmlHead[];
extern const unsigned kHtmlHeadLen;

// Writes the JSON head without a Status line: the host answers 200.
void json_header(FILE *out);

// Writes "Status: <status>\r\n" and then the JSON head. The status text is
// written as given ("409 Conflict"), without any check of its form.
void json_header_status(FILE *out, const char *status);

// Writes the head for the outcome of a runtime command, and the reply's
// first member: no Status line and "ok":true when exit_status is 0, else
// "409 Conflict" and "ok":false. Every non-zero status is a failure.
void json_head_for_exit(FILE *out, int exit_status);
