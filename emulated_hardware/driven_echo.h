// An echo driven on the real clock, as a module drives it, by a process or
// thread that plays the module for a program timing it on another processor:
// the rise some time after the trigger fell, the fall when the echo has
// lasted its length, and stamps around each write that say how exactly it
// was placed.
#pragma once

#include <cstdint>
#include <functional>

namespace emulated {

// A module sends its burst, 8 cycles at 40 kHz, before it raises the echo.
constexpr int64_t kBurstNs = 200000;
// An echo whose writes could not be placed this closely is left out of what
// is judged.
constexpr int64_t kPlacedWithinNs = 2000;

int64_t realNowNs(); // the monotonic clock
void sleepUntilNs(int64_t ns);
void spinUntilNs(int64_t ns);

// Puts the calling thread one real-time priority above the program's timing:
// a module is hardware, which no load slows. A process it then starts begins
// at normal priority. False where it is refused.
bool runAsHardware();

// Sleeps between two looks at the trigger. Waking some tens of microseconds
// late only delays the echo, as the burst does; a real-time thread that
// never slept would be throttled by the kernel, and every real-time thread
// on its processor, the program's timing too, with it.
void napBetweenLooks();

struct DrivenEcho {
    int64_t trueNs;         // from the middle of the rise's stamps to the middle of the fall's
    int64_t raisedAfterNs;  // from the trigger's fall to the stamp before the echo's rise
    int64_t endedAfterNs;   // from the trigger's fall to the stamp after the echo's
    int64_t placedWithinNs; // the wider of the rise's and the fall's two stamps
};

// Raises the echo a burst after the trigger fell at `fellNs` (or at once,
// when that has passed), holds it `highNs`, and lowers it. `setLine` writes
// the echo line's level.
DrivenEcho driveEcho(int64_t fellNs, int64_t highNs, const std::function<void(bool)>& setLine);

} // namespace emulated
