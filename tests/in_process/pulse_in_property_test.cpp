// The timing routine against many thousands of arbitrary echo traces:
// glitches, bounces, stalls anywhere, a line already HIGH, stuck HIGH or LOW.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <random>
#include <vector>

#include "echo_trace.h"

namespace {

// Under emulation (a board's build, RANGING_UNDER_EMULATION) each trace
// costs tens of times what it does natively, so each seed runs a quarter as
// many: what a board's ABI changes (32-bit long and time_t, unsigned char,
// alignment) lies in the arithmetic that every trace goes through, and the
// shares below, one in 40 there, still hold each seed to reach every way a
// call can end (the rarest, a trusted width, comes 28 to 44 times in a
// seed's 625 traces: at least 15 are asked for).
#ifdef RANGING_UNDER_EMULATION
constexpr int kCasesPerSeed = 625;
constexpr int kRareShare = 40; // each kind of case: at least one in this many
#else
constexpr int kCasesPerSeed = 2500;
constexpr int kRareShare = 20;
#endif
constexpr size_t kLongestTraceBytes = 48;

class PulseInWithSeed : public ::testing::TestWithParam<uint64_t> {};

TEST_P(PulseInWithSeed, KeepsItsRulesForEveryTrace)
{
    std::mt19937_64 random(GetParam());
    std::uniform_int_distribution<size_t> length(0, kLongestTraceBytes);
    std::uniform_int_distribution<unsigned> byte(0, 255);

    std::map<PulseInCheck::Ending, int> endings;
    int highAtStart = 0;
    int widths = 0;
    int trustedWidths = 0;
    int timeouts = 0;
    int trustedTimeouts = 0;
    for (int i = 0; i < kCasesPerSeed; ++i) {
        std::vector<uint8_t> bytes(length(random));
        for (uint8_t& b : bytes)
            b = static_cast<uint8_t>(byte(random));
        const PulseInCheck check = checkPulseIn(traceFromBytes(bytes.data(), bytes.size()));
        ASSERT_EQ(check.broken, "") << "case " << i << " of seed " << GetParam();
        ++endings[check.ending];
        highAtStart += check.highAtStart;
        widths += check.widthUs > 0;
        trustedWidths += check.trustedWidth;
        timeouts += check.ending != PulseInCheck::Ending::PulseEnded;
        trustedTimeouts += check.trustedTimeout;
    }

    // The traces must reach every way a call can end, or the rules above
    // would hold for want of trying.
    using Ending = PulseInCheck::Ending;
    for (const Ending ending : {Ending::PulseEnded, Ending::TimedOutWaiting, Ending::TimedOutTiming})
        EXPECT_GE(endings[ending], kCasesPerSeed / kRareShare) << "ending " << static_cast<int>(ending);
    EXPECT_GE(highAtStart, kCasesPerSeed / kRareShare);
    EXPECT_GE(widths, kCasesPerSeed / kRareShare);
    EXPECT_GE(trustedWidths, kCasesPerSeed / kRareShare);
    EXPECT_GE(trustedTimeouts, kCasesPerSeed / kRareShare);
    EXPECT_GE(timeouts - trustedTimeouts, kCasesPerSeed / kRareShare);
    std::printf("endings: pulse %d, waiting %d, timing %d; high at start %d; widths %d, trusted %d; "
                "time-outs trusted %d\n",
                endings[Ending::PulseEnded], endings[Ending::TimedOutWaiting], endings[Ending::TimedOutTiming],
                highAtStart, widths, trustedWidths, trustedTimeouts);
}

INSTANTIATE_TEST_SUITE_P(Seeds, PulseInWithSeed, ::testing::Values(1, 2, 3, 4));

} // namespace
