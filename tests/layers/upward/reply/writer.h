#pragma once
// A writer that reaches up into the actions: the layering test must refuse it.
#include "api/action.h"
