// The built-in scene: what the module sees when nothing is scripted.
#pragma once

#include <cstdint>

#include "module.h"

namespace sim {

// The echo for a trigger `sinceStartNs` into the run: an object drifting
// between about 5 cm and 2 m and back, with a little noise drawn from `noise`.
Echo sceneEcho(int64_t sinceStartNs, uint32_t& noise);

} // namespace sim
