// The program allocates nothing per reading: a run of ten readings and a run
// of ten thousand make the same allocations and leave the same memory in use.
// Counted with AddressSanitizer's allocation hooks, which see every malloc,
// the C library's own included.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <vector>

#include "board.h"

int rangingMain(); // the program's main, renamed for this test

#if defined(__SANITIZE_ADDRESS__)
#define RANGING_COUNTS_ALLOCATIONS 1
extern "C" {
int __sanitizer_install_malloc_and_free_hooks(void (*onMalloc)(const volatile void*, size_t),
                                              void (*onFree)(const volatile void*));
size_t __sanitizer_get_current_allocated_bytes();
}
#endif

namespace {

#ifdef RANGING_COUNTS_ALLOCATIONS

bool gCounting = false;
size_t gAllocations = 0;

void onMalloc(const volatile void*, size_t)
{
    if (gCounting)
        ++gAllocations;
}
void onFree(const volatile void*) {}

struct Footprint {
    size_t allocations;
    ptrdiff_t bytesKept; // in use after the run, beyond what was before it
};

// Runs the program for `readings` readings, its output thrown away, and
// counts only what the run itself allocates: the board's script is set up
// before counting starts.
Footprint runFor(int readings)
{
    sim::resetBoard();
    // Short echoes: what is counted is per reading, not per poll, and under
    // emulation ten thousand long echoes would take many seconds.
    sim::board().scriptEchoes(std::vector<sim::Echo>(readings, sim::Echo::measuredAs(60)), sim::ScriptEnd::Throw);

    std::fflush(stdout);
    const int savedStdout = dup(STDOUT_FILENO);
    const int devNull = open("/dev/null", O_WRONLY);
    dup2(devNull, STDOUT_FILENO);

    const size_t bytesBefore = __sanitizer_get_current_allocated_bytes();
    gAllocations = 0;
    gCounting = true;
    try {
        rangingMain();
    } catch (const sim::RunEnded&) {
    }
    gCounting = false;
    const size_t bytesAfter = __sanitizer_get_current_allocated_bytes();

    std::fflush(stdout);
    dup2(savedStdout, STDOUT_FILENO);
    close(savedStdout);
    close(devNull);
    return {gAllocations, static_cast<ptrdiff_t>(bytesAfter) - static_cast<ptrdiff_t>(bytesBefore)};
}

TEST(ProgramMemory, IsTheSameForTenReadingsAsForTenThousand)
{
    __sanitizer_install_malloc_and_free_hooks(onMalloc, onFree);
    runFor(1); // the C library's first use of anything is not the program's

    const Footprint ten = runFor(10);
    const Footprint tenThousand = runFor(10000);
    __sanitizer_install_malloc_and_free_hooks(nullptr, nullptr);

    EXPECT_EQ(ten.allocations, tenThousand.allocations);
    EXPECT_EQ(ten.bytesKept, tenThousand.bytesKept);
    std::printf("a run of 10 readings: %zu allocations, %td bytes kept; of 10,000: %zu, %td\n", ten.allocations,
                ten.bytesKept, tenThousand.allocations, tenThousand.bytesKept);
}

#else

TEST(ProgramMemory, IsTheSameForTenReadingsAsForTenThousand)
{
    GTEST_SKIP() << "allocations are counted through AddressSanitizer: build with RANGING_SANITIZERS=address";
}

#endif

} // namespace
