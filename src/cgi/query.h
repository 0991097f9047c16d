#pragma once

#include <cstddef>

// Looks up one parameter in a query or form text: segments "name=value"
// joined by "&". The name matches only at the start of the text or right
// after an "&", byte for byte, and must be followed by "=". The raw value
// is cut to size - 1 characters first and then URL-decoded in place ("+" is
// a space, "%XX" one byte; a "%" without two hex digits stays literal).
//
// Returns true when the parameter is present (an empty value included). out
// always holds a terminated text afterwards (empty when absent).
// text may be null; size must be at least 2.
bool get_query_val(const char *text, const char *name, char *out, size_t size);
