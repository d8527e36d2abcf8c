#include "realtime.h"

#include <sys/mman.h>

#include <wiringPi.h>

namespace {

// Any real-time priority runs ahead of every ordinary process, so that the
// poll keeps the processor from the first read to the last. 40 stays below
// the kernel's threaded interrupt handlers (50 on a stock kernel), whose work
// is short: a reading never keeps an interrupt waiting. The poll holds the
// processor for at most one time-out, 13.2 ms, per attempt, and sleeps
// between attempts and readings; the kernel's real-time throttling leaves
// the rest of the system its share of every second in any case.
constexpr int kTimingPriority = 40;

// Only what is mapped now is locked: the code, the libraries, the stack, the
// GPIO registers, all faulted in at once. Locking future mappings too would,
// under a memory-lock limit (an ordinary user's is 8 MiB), make every later
// mapping past it fail; and a reading maps nothing. Where the limit refuses
// even this, nothing is locked and nothing changes.
void lockMemory()
{
    mlockall(MCL_CURRENT);
}

} // namespace

bool keepTimingUndisturbed()
{
    lockMemory();
    // The GPIO library's own call: a round-robin real-time policy for this
    // process.
    return piHiPri(kTimingPriority) == 0;
}
