// libFuzzer's bytes as an echo trace for the timing routine. A rule broken is
// a crash, which libFuzzer reports with the input that caused it.
#include <cstdio>
#include <cstdlib>

#include "echo_trace.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string broken = checkPulseIn(traceFromBytes(data, size)).broken;
    if (!broken.empty()) {
        std::fprintf(stderr, "pulseIn broke a rule: %s\n", broken.c_str());
        std::abort();
    }
    return 0;
}
