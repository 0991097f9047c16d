#pragma once

// Longest container identifier accepted.
constexpr unsigned kMaxCidLength = 128;

// true when the identifier may stand bare in a command line: 1 to 128
// characters of A-Z, a-z, 0-9, "_", "." and "-", not starting with "-" or
// "." (so it is never read as an option or a path).
bool valid_cid(const char *cid);
