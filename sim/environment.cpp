// ranging-sim's only settings: read from the environment into the simulated
// board before the program starts, so that a bad value stops the run before
// the program has printed anything.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "board.h"

namespace {

constexpr int kExitBadSetting = 2;
constexpr long kLongestEchoUs = 1000000;
constexpr char kSeparators[] = ", \t\n";

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

sim::Echo parseEcho(const std::string& item, const char* value)
{
    if (item == "none")
        return sim::Echo::none();
    if (item == "stuck")
        return sim::Echo::outOfRange();
    const bool digits = item.size() <= 7 && item.find_first_not_of("0123456789") == std::string::npos;
    const long us = digits ? std::strtol(item.c_str(), nullptr, 10) : 0;
    if (us < 1 || us > kLongestEchoUs)
        badSetting("SIM_ECHOES", value,
                   "\"" + item + "\" is not a width from 1 to 1000000 (µs), \"none\" or \"stuck\"");
    return sim::Echo::measuredAs(static_cast<int>(us));
}

std::vector<sim::Echo> parseEchoes(const char* value)
{
    std::vector<sim::Echo> echoes;
    const std::string text = value;
    for (size_t at = text.find_first_not_of(kSeparators); at != std::string::npos;) {
        const size_t end = text.find_first_of(kSeparators, at);
        echoes.push_back(parseEcho(text.substr(at, end - at), value));
        at = text.find_first_not_of(kSeparators, end);
    }
    if (echoes.empty())
        badSetting("SIM_ECHOES", value, "no readings listed");
    return echoes;
}

void configureBoard()
{
    sim::Board& board = sim::board();

    if (const char* value = setting("SIM_ECHOES"))
        board.scriptEchoes(parseEchoes(value), sim::ScriptEnd::RaiseSigterm);
    else
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
