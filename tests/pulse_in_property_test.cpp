// The timing routine against many thousands of arbitrary echo traces:
// glitches, bounces, stalls anywhere, a line already HIGH, stuck HIGH or LOW.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "echo_trace.h"

namespace {

constexpr int kCasesPerSeed = 2500;
constexpr size_t kLongestTraceBytes = 48;

class PulseInWithSeed : public ::testing::TestWithParam<uint64_t> {};

TEST_P(PulseInWithSeed, KeepsItsRulesForEveryTrace)
{
    std::mt19937_64 random(GetParam());
    std::uniform_int_distribution<size_t> length(0, kLongestTraceBytes);
    std::uniform_int_distribution<unsigned> byte(0, 255);

    for (int i = 0; i < kCasesPerSeed; ++i) {
        std::vector<uint8_t> bytes(length(random));
        for (uint8_t& b : bytes)
            b = static_cast<uint8_t>(byte(random));
        const std::string broken = checkPulseIn(traceFromBytes(bytes.data(), bytes.size()));
        ASSERT_EQ(broken, "") << "case " << i << " of seed " << GetParam();
    }
}

INSTANTIATE_TEST_SUITE_P(Seeds, PulseInWithSeed, ::testing::Values(1, 2, 3, 4));

} // namespace
