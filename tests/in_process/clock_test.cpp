// The board's clock: monotonic microseconds.
#include <gtest/gtest.h>

#include <ctime>

#include "clock.h"

namespace {

class MonotonicNowUs : public ::testing::TestWithParam<int> {};

TEST_P(MonotonicNowUs, CountsMicrosecondsOfASleep)
{
    const int sleptUs = GetParam();
    const timespec sleep{0, sleptUs * 1000L};

    const int64_t beforeUs = monotonicNowUs();
    nanosleep(&sleep, nullptr);
    const int64_t spanUs = monotonicNowUs() - beforeUs;

    EXPECT_GE(spanUs, sleptUs);
    // A second of slack for a busy emulator; a unit slip is off by a factor of 1,000.
    EXPECT_LT(spanUs, sleptUs + 1000000);
}

INSTANTIATE_TEST_SUITE_P(Sleeps, MonotonicNowUs, ::testing::Values(2000, 150000));

} // namespace
