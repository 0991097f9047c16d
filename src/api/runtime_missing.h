#pragma once

#include <cstdio>

// Writes the 503 reply of the actions that cannot work without a runtime.
void reply_runtime_missing(FILE *out);
