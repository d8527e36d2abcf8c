// A script of echoes, as ranging-sim's SIM_ECHOES and the module on real
// registers take it: readings separated by commas or blanks, each a width in
// microseconds from 1 to 1000000, "none" (no echo) or "stuck" (nothing in
// range: the echo stays high for the module's own time-out).
#pragma once

#include <string>
#include <vector>

#include "module.h"

namespace sim {

// The echoes that `text` lists. On a bad reading, or none, the list is empty
// and `error` says why.
std::vector<Echo> parseEchoScript(const std::string& text, std::string& error);

} // namespace sim
