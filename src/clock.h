// The clock that echoes are timed against.
#pragma once

#include <cstdint>

// Microseconds on the monotonic clock, which never steps when the wall clock
// is set and keeps counting through any stall, so a span between two readings
// is exact whatever happens to the system time in between.
int64_t monotonicNowUs();
