// How close polling comes to an echo's true width, with realistic costs and
// the echo's edges at arbitrary phases to the polls. Prints the figures it
// measures (run with --gtest_filter='*Accuracy*').
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>

#include "board.h"
#include "gpio_pins.h"
#include "ranging.h"

namespace {

constexpr int64_t kUs = sim::kNsPerUs;

// The whole range of readings, from a few centimetres to just short of the
// time-out, less the echo's start.
constexpr int64_t kShortestNs = 60 * kUs;
constexpr int64_t kLongestNs = 13000 * kUs;
// Under emulation (a board's build) a fifth as many widths, still from the
// shortest to the longest: a board's ABI changes the arithmetic that every
// width goes through, not which widths it goes wrong at.
#ifdef RANGING_UNDER_EMULATION
constexpr int kWidths = 60;
#else
constexpr int kWidths = 300;
#endif
constexpr uint64_t kSeed = 20261208;

struct CostPair {
    const char* name;
    sim::Costs costs;
};

// A pin read and a clock read, each tens to a few hundred nanoseconds.
const CostPair kCostPairs[] = {
    {"Fast", {40, 80}},
    {"Typical", {80, 170}},
    {"Slow", {150, 350}},
};

struct Errors {
    double leastUs = 0;
    double mostUs = 0;
    double sumUs = 0;
    int count = 0;
};

class Accuracy : public ::testing::TestWithParam<CostPair> {};

// Polling sees an edge up to one poll interval late, so each end of the echo
// may cost up to one interval; the stamps are whole microseconds, which may
// add or take less than one more.
TEST_P(Accuracy, EveryWidthIsWithinOnePollOfTheTruthAtEachEdge)
{
    const sim::Costs costs = GetParam().costs;
    const int64_t pollNs = costs.pinReadNs + costs.clockReadNs;
    std::mt19937_64 random(kSeed);
    std::uniform_int_distribution<int64_t> phaseNs(0, kUs - 1);

    Errors errors;
    for (int i = 0; i < kWidths; ++i) {
        sim::resetBoard();
        sim::Board& board = sim::board();
        board.setCosts(costs);
        wiringPiSetup();
        pinMode(kEchoPin, INPUT);

        const int64_t trueNs = kShortestNs + (kLongestNs - kShortestNs) * i / (kWidths - 1) + phaseNs(random);
        const int64_t riseNs = board.nowNs() + 20 * kUs + phaseNs(random);
        board.driveEcho(riseNs, riseNs + trueNs);

        const int measuredUs = pulseIn(kEchoPin, HIGH, kEchoTimeoutUs);
        const int64_t errorNs = measuredUs * kUs - trueNs;
        ASSERT_GT(errorNs, -2 * pollNs - kUs) << "true width " << trueNs << " ns, measured " << measuredUs << " µs";
        ASSERT_LT(errorNs, kUs) << "true width " << trueNs << " ns, measured " << measuredUs << " µs";

        const double errorUs = static_cast<double>(errorNs) / kUs;
        errors.leastUs = std::min(errors.leastUs, errorUs);
        errors.mostUs = std::max(errors.mostUs, errorUs);
        errors.sumUs += errorUs;
        ++errors.count;
    }

    const double meanUs = errors.sumUs / errors.count;
    std::printf("costs %lld + %lld ns (poll %lld ns), %d widths: error %+.3f to %+.3f us, mean %+.3f us; "
                "largest %.4f cm, mean bias %+.4f cm\n",
                static_cast<long long>(costs.pinReadNs), static_cast<long long>(costs.clockReadNs),
                static_cast<long long>(pollNs), errors.count, errors.leastUs, errors.mostUs, meanUs,
                std::max(-errors.leastUs, errors.mostUs) * kCmPerEchoUs, meanUs * kCmPerEchoUs);
    // Each edge is seen half a poll late on average: a bias that is real, and
    // small, rather than one that cancels out.
    EXPECT_LT(meanUs, 0);
}

INSTANTIATE_TEST_SUITE_P(Costs, Accuracy, ::testing::ValuesIn(kCostPairs),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
