#include "realtime.h"

#include <sys/mman.h>

#include <wiringPi.h>

namespace {

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
