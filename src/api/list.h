#pragma once

#include "runtime.h"

// The list action: runs the runtime's listing and usage commands, fills
// g_containers and writes the list reply (always 200, "ok":true; a missing
// runtime or an unreachable daemon shows in its members). Returns 0.
int action_list(const runtime_selection &rt);
