// The program allocates nothing per reading: a run of ten readings and a run
// of ten thousand make the same allocations and leave the same memory in use.
// Every malloc is counted, the C library's own included: through
// AddressSanitizer's allocation hooks where the build has it, otherwise by
// standing in front of the C library's allocator, as glibc lets a program do.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <vector>

#include "board.h"

int rangingMain(); // the program's main, renamed for this test

namespace {

bool gCounting = false;
size_t gAllocations = 0;

} // namespace

#if defined(__SANITIZE_ADDRESS__)

extern "C" {
int __sanitizer_install_malloc_and_free_hooks(void (*onMalloc)(const volatile void*, size_t),
                                              void (*onFree)(const volatile void*));
size_t __sanitizer_get_current_allocated_bytes();
}

namespace {

void onMalloc(const volatile void*, size_t)
{
    if (gCounting)
        ++gAllocations;
}
void onFree(const volatile void*) {}

void watchAllocations(bool watch)
{
    __sanitizer_install_malloc_and_free_hooks(watch ? onMalloc : nullptr, watch ? onFree : nullptr);
}
size_t bytesInUse()
{
    return __sanitizer_get_current_allocated_bytes();
}

} // namespace

#else

// glibc's own allocator, under the names it keeps for whoever replaces it.
extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* block, size_t size);
void __libc_free(void* block);
}

namespace {

size_t gBytesInUse = 0;

void* counted(void* block)
{
    if (block != nullptr) {
        gBytesInUse += malloc_usable_size(block);
        if (gCounting)
            ++gAllocations;
    }
    return block;
}
void uncounted(void* block)
{
    if (block != nullptr)
        gBytesInUse -= malloc_usable_size(block);
}

void watchAllocations(bool) {}
size_t bytesInUse()
{
    return gBytesInUse;
}

} // namespace

// Their parameters are named as the C library's declarations name them.
extern "C" {
void* malloc(size_t __size) noexcept
{
    return counted(__libc_malloc(__size));
}
void* calloc(size_t __nmemb, size_t __size) noexcept
{
    return counted(__libc_calloc(__nmemb, __size));
}
void* realloc(void* __ptr, size_t __size) noexcept
{
    uncounted(__ptr);
    return counted(__libc_realloc(__ptr, __size));
}
void free(void* __ptr) noexcept
{
    uncounted(__ptr);
    __libc_free(__ptr);
}
}

#endif

namespace {

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

    const size_t bytesBefore = bytesInUse();
    gAllocations = 0;
    gCounting = true;
    try {
        rangingMain();
    } catch (const sim::RunEnded&) {
    }
    gCounting = false;
    const size_t bytesAfter = bytesInUse();

    std::fflush(stdout);
    dup2(savedStdout, STDOUT_FILENO);
    close(savedStdout);
    close(devNull);
    return {gAllocations, static_cast<ptrdiff_t>(bytesAfter) - static_cast<ptrdiff_t>(bytesBefore)};
}

TEST(ProgramMemory, IsTheSameForTenReadingsAsForTenThousand)
{
    watchAllocations(true);
    runFor(1); // the C library's first use of anything is not the program's

    const Footprint ten = runFor(10);
    const Footprint tenThousand = runFor(10000);
    watchAllocations(false);

    EXPECT_EQ(ten.allocations, tenThousand.allocations);
    EXPECT_EQ(ten.bytesKept, tenThousand.bytesKept);
    std::printf("a run of 10 readings: %zu allocations, %td bytes kept; of 10,000: %zu, %td\n", ten.allocations,
                ten.bytesKept, tenThousand.allocations, tenThousand.bytesKept);
}

} // namespace
