#pragma once

#include <cstdio>

#include "api/runtime.h"

// Writes "runtime":{"available":...,"bin":...,"label":...} with no comma on
// either side. When no runtime is available, bin and label are written as
// empty strings whatever they hold.
void emit_runtime_block(FILE *out, const runtime_selection &rt);
