#pragma once

#include "api/action.h"

// The list action: runs the runtime's listing and usage commands together
// (the listing alone when the usage parameter is exactly "0"), fills its
// container table and writes the list reply (always 200, "ok":true; a
// missing runtime or an unreachable daemon shows in its members).
void action_list(const action_call &call);
