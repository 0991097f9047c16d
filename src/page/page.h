#pragma once

// Writes the dashboard page to standard output, whole (CGI head and
// document), and returns 0. The back link to the host's root page is
// written only when embedded is 0; the embedded page is otherwise the same,
// byte for byte. Write failures go unnoticed.
int mode_html(int embedded);
