#pragma once

#include <cstdio>

// Writes the dashboard page to out, whole (CGI head and document). The back
// link to the host's root page is written only when not embedded; the
// embedded page is otherwise the same, byte for byte. Write failures go
// unnoticed.
void mode_html(FILE *out, bool embedded);
