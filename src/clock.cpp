// The monotonic clock read on a real board. The simulated board links its own
// in place of this file.
#include "clock.h"

#include <ctime>

int64_t monotonicNowUs()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    // tv_sec is 32 bits on a 32-bit board whose C library predates 64-bit
    // time: widen before scaling. tv_nsec is below 10^9, so its microseconds
    // fit an unsigned 32-bit division, the cheapest.
    return static_cast<int64_t>(now.tv_sec) * 1000000 + static_cast<uint32_t>(now.tv_nsec) / 1000u;
}
