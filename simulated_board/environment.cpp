// ranging-sim's only settings: read from the environment into the simulated
// board before the program starts, so that a bad value stops the run before
// the program has printed anything.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "board.h"
#include "echo_script.h"

namespace {

constexpr int kExitBadSetting = 2;

[[noreturn]] void badSetting(const char* name, const char* value, const std::string& why)
{
    std::fprintf(stderr, "ranging-sim: %s=\"%s\": %s\n", name, value, why.c_str());
    std::exit(kExitBadSetting);
}

// Unset and empty are the same: the default.
const char* setting(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : nullptr;
}

void configureBoard()
{
    sim::Board& board = sim::board();

    if (const char* value = setting("SIM_ECHOES")) {
        std::string error;
        std::vector<sim::Echo> echoes = sim::parseEchoScript(value, error);
        if (!error.empty())
            badSetting("SIM_ECHOES", value, error);
        board.scriptEchoes(std::move(echoes), sim::ScriptEnd::RaiseSigterm);
    } else
        board.playScene();

    if (const char* value = setting("SIM_SETUP")) {
        if (std::strcmp(value, "fail") != 0)
            badSetting("SIM_SETUP", value, "the only value is \"fail\"");
        board.setSetupResult(-1);
    }

    const char* realtime = setting("SIM_REALTIME");
    if (realtime != nullptr && std::strcmp(realtime, "0") != 0 && std::strcmp(realtime, "1") != 0)
        badSetting("SIM_REALTIME", realtime, "must be 0 (no sleeping) or 1 (sleep in real time)");
    board.setRealtime(realtime == nullptr || std::strcmp(realtime, "1") == 0);
}

[[maybe_unused]] const bool configured = (configureBoard(), true);

} // namespace
