#include "module.h"

#include <algorithm>
#include <utility>

#include <wiringPi.h>

#include "scene.h"

namespace sim {

namespace {

// A trigger must be held HIGH this long to start a measurement, and with
// nothing in range the module holds its echo HIGH for its own time-out.
constexpr int64_t kMinTriggerNs = 10 * kNsPerUs;
constexpr int64_t kModuleTimeoutNs = 38 * kNsPerMs;
// The echo rises this long after the trigger has fallen: short, so that a
// scripted echo of up to 13,179 µs still ends within the program's time-out,
// and a longer one does not. The time-out counts from timing's start stamp,
// the first after the trigger's fall (a write takes no time here).
constexpr int64_t kEchoDelayNs = 20 * kNsPerUs;

} // namespace

std::optional<int64_t> echoHighNs(const Echo& echo, int64_t pollNs)
{
    switch (echo.kind) {
    case Echo::Kind::HighFor:
        return echo.highNs;
    case Echo::Kind::MeasuredAs:
        // Polling stamps the last poll that still sees the echo, so an echo
        // one poll longer than W measures exactly W, whatever the phase of
        // the polls; exact in microseconds while a poll costs 1 µs.
        return echo.measuredUs * kNsPerUs + pollNs;
    case Echo::Kind::None:
        return std::nullopt;
    case Echo::Kind::OutOfRange:
        return kModuleTimeoutNs;
    }
    return std::nullopt;
}

void Module::script(std::vector<Echo> echoes)
{
    script_ = std::move(echoes);
    scriptNext_ = 0;
}

// A measurement starts when a long enough trigger falls while the module is
// idle; a short trigger, or one while it is still busy, starts nothing.
void Module::onTrigger(int from, int to, int64_t nowNs, int64_t pollNs)
{
    if (to == HIGH) {
        if (from == LOW)
            triggerRoseNs_ = nowNs;
        return;
    }
    if (from != HIGH || nowNs - triggerRoseNs_ < kMinTriggerNs || nowNs < busyUntilNs_)
        return;

    echoSpans_.erase(std::remove_if(echoSpans_.begin(), echoSpans_.end(),
                                    [nowNs](const HighSpan& span) { return span.fallNs <= nowNs; }),
                     echoSpans_.end());

    const std::optional<int64_t> highNs = echoHighNs(nextEcho(nowNs), pollNs);
    if (!highNs) {
        busyUntilNs_ = nowNs;
        return;
    }
    const int64_t riseNs = nowNs + kEchoDelayNs;
    echoSpans_.push_back({riseNs, riseNs + *highNs});
    busyUntilNs_ = riseNs + *highNs;
}

Echo Module::nextEcho(int64_t nowNs)
{
    if (scene_)
        return sceneEcho(nowNs - startNs_, noise_);
    if (scriptUsedUp())
        return Echo::none();
    return script_[scriptNext_++];
}

} // namespace sim
