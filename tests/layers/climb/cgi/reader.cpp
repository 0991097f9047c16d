// An include that climbs out of its folder: the layering test must refuse it.
#include "../proc/deadline.h"
