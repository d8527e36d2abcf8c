#include "echo_script.h"

#include <cstdlib>

namespace sim {

namespace {

constexpr long kLongestEchoUs = 1000000;
constexpr char kSeparators[] = ", \t\n";

bool parseEcho(const std::string& item, Echo& echo)
{
    if (item == "none") {
        echo = Echo::none();
        return true;
    }
    if (item == "stuck") {
        echo = Echo::outOfRange();
        return true;
    }
    const bool digits = item.size() <= 7 && item.find_first_not_of("0123456789") == std::string::npos;
    const long us = digits ? std::strtol(item.c_str(), nullptr, 10) : 0;
    echo = Echo::measuredAs(static_cast<int>(us));
    return us >= 1 && us <= kLongestEchoUs;
}

} // namespace

std::vector<Echo> parseEchoScript(const std::string& text, std::string& error)
{
    std::vector<Echo> echoes;
    for (size_t at = text.find_first_not_of(kSeparators); at != std::string::npos;) {
        const size_t end = text.find_first_of(kSeparators, at);
        const std::string item = text.substr(at, end - at);
        Echo echo = Echo::none();
        if (!parseEcho(item, echo)) {
            error = "\"" + item + "\" is not a width from 1 to 1000000 (µs), \"none\" or \"stuck\"";
            return {};
        }
        echoes.push_back(echo);
        at = text.find_first_not_of(kSeparators, end);
    }
    if (echoes.empty())
        error = "no readings listed";
    return echoes;
}

} // namespace sim
