// The program's start: set-up, pin configuration, then the loop.
#include <algorithm>
#include <cstdlib>

#include "on_board.h"

int rangingMain(); // the program's main, renamed for this test

namespace {

struct Start {
    int setupResult;
    int priorityResult; // what piHiPri answers: 0 granted, -1 refused
};

class StartsWith : public OnBoard, public ::testing::WithParamInterface<Start> {};

TEST_P(StartsWith, ConfiguresThePinsAsksForPriorityOnceThenTakesReadings)
{
    board.setSetupResult(GetParam().setupResult);
    board.setPriorityResult(GetParam().priorityResult);
    board.scriptEchoes({sim::Echo::measuredAs(1000), sim::Echo::none()}, sim::ScriptEnd::Throw);

    ::testing::internal::CaptureStderr();
    EXPECT_THROW(rangingMain(), sim::RunEnded);
    const std::string err = ::testing::internal::GetCapturedStderr();

    // clang-format off
    const std::vector<std::string> expected = {
        "wiringPiSetup() -> " + std::to_string(GetParam().setupResult),
        "pinMode(0, 0)", "pullUpDnControl(0, 2)", "pinMode(4, 1)", "pinMode(5, 0)",
        "piHiPri(40) -> " + std::to_string(GetParam().priorityResult),
        "digitalWrite(4, 1)",  // the first level the trigger ever sees
    };
    // clang-format on
    const std::vector<std::string>& calls = board.calls();
    ASSERT_GE(calls.size(), expected.size());
    EXPECT_EQ(std::vector<std::string>(calls.begin(), calls.begin() + expected.size()), expected);
    EXPECT_EQ(std::count(calls.begin(), calls.end(), expected[5]), 1) << "one request, after set-up";
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "digitalWrite(4, 0)"), 2) << "one trigger per reading";
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "delay(1000)"), 2) << "one pause per reading";
    EXPECT_EQ(err, GetParam().priorityResult == 0 ? ""
                                                  : "ranging: no real-time priority granted; timing at "
                                                    "normal priority, so a busy board loses readings\n");
}

// Only -1 means the library failed to start; a refused priority changes
// nothing but one line on standard error.
INSTANTIATE_TEST_SUITE_P(Successes, StartsWith,
                         ::testing::Values(Start{0, 0}, Start{1, 0}, Start{42, -1}, Start{-2, 0}),
                         [](const auto& info) {
                             const int setup = info.param.setupResult;
                             return (setup < 0 ? "SetupMinus" : "Setup") + std::to_string(std::abs(setup)) +
                                    (info.param.priorityResult == 0 ? "PriorityGranted" : "PriorityRefused");
                         });

TEST_F(OnBoard, AFailedSetupExitsWithStatus1AndTouchesNoPin)
{
    board.setSetupResult(-1);

    EXPECT_EQ(rangingMain(), 1);

    EXPECT_EQ(board.calls(), std::vector<std::string>{"wiringPiSetup() -> -1"});
}

} // namespace
