// The program's start: set-up, pin configuration, then the loop.
#include <algorithm>

#include "on_board.h"

int rangingMain(); // the program's main, renamed for this test

namespace {

class StartsWithSetupResult : public OnBoard, public ::testing::WithParamInterface<int> {};

TEST_P(StartsWithSetupResult, ConfiguresThePinsInOrderThenTakesReadings)
{
    board.setSetupResult(GetParam());
    board.scriptEchoes({sim::Echo::measuredAs(1000), sim::Echo::none()}, sim::ScriptEnd::Throw);

    EXPECT_THROW(rangingMain(), sim::RunEnded);

    const std::vector<std::string> expected = {
        "wiringPiSetup() -> " + std::to_string(GetParam()),
        "pinMode(0, 0)", "pullUpDnControl(0, 2)", "pinMode(4, 1)", "pinMode(5, 0)",
        "digitalWrite(4, 1)",  // the first level the trigger ever sees
    };
    const std::vector<std::string>& calls = board.calls();
    ASSERT_GE(calls.size(), expected.size());
    EXPECT_EQ(std::vector<std::string>(calls.begin(), calls.begin() + expected.size()), expected);
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "digitalWrite(4, 0)"), 2) << "one trigger per reading";
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "delay(1000)"), 2) << "one pause per reading";
}

// Only -1 means the library failed to start.
INSTANTIATE_TEST_SUITE_P(Successes, StartsWithSetupResult, ::testing::Values(0, 1, 42, -2));

TEST_F(OnBoard, AFailedSetupExitsWithStatus1AndTouchesNoPin)
{
    board.setSetupResult(-1);

    EXPECT_EQ(rangingMain(), 1);

    EXPECT_EQ(board.calls(), std::vector<std::string>{"wiringPiSetup() -> -1"});
}

} // namespace
