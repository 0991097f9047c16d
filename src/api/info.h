#pragma once

#include "api/action.h"

// The info action: the plugin, the runtime chosen for this request, the
// process id, the time, and what the API supports. Never runs a command;
// answers whatever the method and whether or not a runtime was found.
void action_info(const action_call &call);
