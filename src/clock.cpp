// The monotonic clock read on a real board. The simulated board links its own
// in place of this file.
#include "clock.h"

#include <ctime>

int64_t monotonicNowUs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    // tv_sec is 32 bits on the board: widen before scaling.
    return static_cast<int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}
