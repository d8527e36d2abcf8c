#include "driven_echo.h"

#include <sched.h>

#include <algorithm>
#include <ctime>

#include "realtime.h"

namespace emulated {

namespace {

// Between looks at the trigger.
constexpr int64_t kNapNs = 50000;
// While it holds the echo, the module sleeps until this long before the fall
// and spins the rest, to place the fall to the microsecond. Spinning at a
// real-time priority through a whole echo, up to 38 ms, would starve what
// else must run on that processor (the emulator's own threads, under
// emulation), and the kernel throttles real-time work that never sleeps.
constexpr int64_t kWakeBeforeFallNs = 300000;

} // namespace

int64_t realNowNs()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

void sleepUntilNs(int64_t ns)
{
    const timespec at{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) != 0) {
    }
}

void spinUntilNs(int64_t ns)
{
    while (realNowNs() < ns) {
    }
}

bool runAsHardware()
{
    sched_param param{};
    param.sched_priority = kTimingPriority + 1;
    // For the calling thread alone, as Linux applies it to a thread's id.
    return sched_setscheduler(0, SCHED_FIFO | SCHED_RESET_ON_FORK, &param) == 0;
}

void napBetweenLooks()
{
    sleepUntilNs(realNowNs() + kNapNs);
}

DrivenEcho driveEcho(int64_t fellNs, int64_t highNs, const std::function<void(bool)>& setLine)
{
    sleepUntilNs(fellNs + kBurstNs);
    const int64_t beforeRise = realNowNs();
    setLine(true);
    const int64_t afterRise = realNowNs();
    sleepUntilNs(beforeRise + highNs - kWakeBeforeFallNs);
    spinUntilNs(beforeRise + highNs);
    const int64_t beforeFall = realNowNs();
    setLine(false);
    const int64_t afterFall = realNowNs();
    return {(beforeFall + afterFall) / 2 - (beforeRise + afterRise) / 2, beforeRise - fellNs, afterFall - fellNs,
            std::max(afterRise - beforeRise, afterFall - beforeFall)};
}

} // namespace emulated
