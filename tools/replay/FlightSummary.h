#pragma once

#include "tools/replay/Recording.h"

namespace replay {

// Product type code as the aircraft's name.
QString productName(int type);

// The flight at a glance, one "name: value" line each.
QString flightSummary(const Recording& recording);

} // namespace replay
