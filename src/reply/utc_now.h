#pragma once

// Size of the buffer that holds the time text.
constexpr unsigned kUtcTextSize = 64;

// Fills out (kUtcTextSize bytes) with the current UTC time as
// "YYYY-MM-DDTHH:MM:SSZ", or with "1970-01-01T00:00:00Z" when the clock or
// the conversion fails. The text is always terminated. Writes no output.
void utc_now(char *out);
