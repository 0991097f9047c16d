#pragma once

#include <ctime>

// Size of the buffer that holds the time text.
constexpr unsigned kUtcTextSize = 64;

// Fills out (kUtcTextSize bytes) with the current UTC time as
// "YYYY-MM-DDTHH:MM:SSZ", or with "1970-01-01T00:00:00Z" when the clock or
// the conversion fails. The text is always terminated. Writes no output.
void utc_now(char *out);

// Writes the time text of `now` (seconds since 1970, UTC) into out, which
// holds at least 21 bytes, by calendar arithmetic alone. Returns false,
// writing nothing, for times before 1970 or after the year 9999.
bool format_utc(std::time_t now, char *out);
