// One reading: the trigger pulse, the width turned into centimetres, and the
// attempts taken again when a hold-up leaves a reading untrusted.
#include <cstdio>

#include "gpio_pins.h"
#include "on_board.h"
#include "ranging.h"

namespace {

std::string printed(float cm)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", static_cast<double>(cm));
    return text;
}

struct Conversion {
    int widthUs;
    const char* printed;
};

// Where a double-precision result, or rounding by hand, would print otherwise.
// clang-format off
const Conversion kConversions[] = {
    {0, "0.00"},       {1000, "17.00"}, {5882, "99.99"}, {13200, "224.40"},
    {15, "0.25"},      // single precision: just below 0.255 (double: 0.26)
    {25, "0.43"},      // single precision: just above 0.425 (double: 0.42)
    {125, "2.12"},     // exactly 2.125: half to even
    {375, "6.38"},     // exactly 6.375: half to even
};
// clang-format on

class EchoWidthToCm : public ::testing::TestWithParam<Conversion> {};

TEST_P(EchoWidthToCm, PrintsAsTheNarrowedValueDoes)
{
    EXPECT_EQ(printed(echoWidthToCm(GetParam().widthUs)), GetParam().printed);
}

INSTANTIATE_TEST_SUITE_P(Widths, EchoWidthToCm, ::testing::ValuesIn(kConversions),
                         [](const auto& info) { return "Width" + std::to_string(info.param.widthUs); });

struct HoldUp {
    double atUs; // from the first trigger, or kAsTheTriggerFalls
    int64_t forUs;
};
constexpr double kAsTheTriggerFalls = -1;

struct Reading {
    const char* name;
    std::vector<sim::Echo> echoes; // the module's, trigger by trigger
    std::vector<HoldUp> holdUps;
    const char* printed;
    int triggers;
};

// An attempt takes about 1 ms for a 1000 µs echo, 13.2 ms for a time-out,
// and 60 ms more before the next: a hold-up at 500 µs into an attempt lasting
// 1000 µs spans the fall of that attempt's echo.
// clang-format off
const Reading kReadings[] = {
    {"ObjectAt17Cm", {sim::Echo::measuredAs(1000)}, {}, "17.00", 1},
    {"ShortEchoInSinglePrecision", {sim::Echo::measuredAs(15)}, {}, "0.25", 1},
    {"NoEchoIsNotRetried", {sim::Echo::none()}, {}, "0.00", 1},
    {"NothingInRangeIsNotRetried", {sim::Echo::outOfRange()}, {}, "0.00", 1},
    {"BeyondTheCeiling", {sim::Echo::measuredAs(13300)}, {}, "0.00", 1},
    {"HeldUpAcrossTheFallIsRetriedThenTrusted", {sim::Echo::measuredAs(1000), sim::Echo::measuredAs(1000)},
     {{500, 1000}}, "17.00", 2},
    {"EchoHiddenByAHoldUpIsRetriedThenTrusted", {sim::Echo::measuredAs(1000), sim::Echo::measuredAs(1000)},
     {{20, 2000}}, "17.00", 2},
    {"ThreeUntrustedAttemptsReadZero", std::vector<sim::Echo>(3, sim::Echo::measuredAs(1000)),
     {{500, 1000}, {62000, 1000}, {123500, 1000}}, "0.00", 3},
    // A wait held up for less than the shortest echo (117 µs) cannot hide
    // one; a longer hold-up can, even one between the trigger's fall and the
    // first stamp, or one near the limit while the echo is high.
    {"NoEchoThroughAHoldUpShorterThanTheShortestEchoIsTrusted", {sim::Echo::none()}, {{100, 100}}, "0.00", 1},
    {"NoEchoThroughAHoldUpLongerThanTheShortestEchoIsRetried", {sim::Echo::none(), sim::Echo::none()},
     {{100, 200}}, "0.00", 2},
    {"EchoHiddenAsTheTriggerFallsIsRetriedThenTrusted", {sim::Echo::measuredAs(1000), sim::Echo::measuredAs(1000)},
     {{kAsTheTriggerFalls, 2000}}, "17.00", 2},
    {"NothingInRangeHeldUpNearTheLimitIsRetried", {sim::Echo::outOfRange(), sim::Echo::outOfRange()},
     {{13170, 100}}, "0.00", 2},
};
// clang-format on

class GetSonar : public OnBoard, public ::testing::WithParamInterface<Reading> {};

// Each retry waits for the module's 60 ms cycle before it fires again.
TEST_P(GetSonar, ReadsTheModulesEchoRetryingWhatItCannotTrust)
{
    const Reading& c = GetParam();
    board.setCosts({});
    board.scriptEchoes(c.echoes, sim::ScriptEnd::Throw);
    wiringPiSetup();
    configurePins();
    for (const HoldUp& holdUp : c.holdUps) {
        if (holdUp.atUs == kAsTheTriggerFalls)
            board.stallAsTriggerFalls(holdUp.forUs * sim::kNsPerUs);
        else
            board.stallAt(board.nowNs() + static_cast<int64_t>(holdUp.atUs * sim::kNsPerUs),
                          holdUp.forUs * sim::kNsPerUs);
    }

    EXPECT_EQ(printed(getSonar()), c.printed);

    std::vector<std::string> triggersAndWaits;
    for (const std::string& call : board.calls()) {
        if (call == "digitalWrite(4, 1)" || call.rfind("delay(", 0) == 0)
            triggersAndWaits.push_back(call);
    }
    std::vector<std::string> expected{"digitalWrite(4, 1)"};
    for (int retry = 1; retry < c.triggers; ++retry)
        expected.insert(expected.end(), {"delay(60)", "digitalWrite(4, 1)"});
    EXPECT_EQ(triggersAndWaits, expected);
}

INSTANTIATE_TEST_SUITE_P(Echoes, GetSonar, ::testing::ValuesIn(kReadings),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(OnBoard, GetSonarFiresATenMicrosecondTriggerStampedJustBeforeItFallsThenTimesTheEchoAtOnce)
{
    wiringPiSetup();
    configurePins();
    const size_t configured = board.calls().size();
    const int64_t s = board.nowNs() / sim::kNsPerUs;

    getSonar();

    const std::vector<std::string> calls(board.calls().begin() + static_cast<std::ptrdiff_t>(configured),
                                         board.calls().begin() + static_cast<std::ptrdiff_t>(configured) + 6);
    // clang-format off
    const std::vector<std::string> expected = {
        "digitalWrite(4, 1)", "delayMicroseconds(10)", stamp(s + 10), "digitalWrite(4, 0)", stamp(s + 10),
        "digitalRead(5) -> 0",
    };
    // clang-format on
    EXPECT_EQ(calls, expected);
}

} // namespace
