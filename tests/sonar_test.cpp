// One reading: the trigger pulse, and the width turned into centimetres.
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
const Conversion kConversions[] = {
    {0, "0.00"},       {1000, "17.00"}, {5882, "99.99"}, {13200, "224.40"},
    {15, "0.25"},      // single precision: just below 0.255 (double: 0.26)
    {25, "0.43"},      // single precision: just above 0.425 (double: 0.42)
    {125, "2.12"},     // exactly 2.125: half to even
    {375, "6.38"},     // exactly 6.375: half to even
};

class EchoWidthToCm : public ::testing::TestWithParam<Conversion> {};

TEST_P(EchoWidthToCm, PrintsAsTheNarrowedValueDoes)
{
    EXPECT_EQ(printed(echoWidthToCm(GetParam().widthUs)), GetParam().printed);
}

INSTANTIATE_TEST_SUITE_P(Widths, EchoWidthToCm, ::testing::ValuesIn(kConversions),
                         [](const auto& info) { return "Width" + std::to_string(info.param.widthUs); });

struct Reading {
    const char* name;
    sim::Echo echo;
    const char* printed;
};

const Reading kReadings[] = {
    {"ObjectAt17Cm", sim::Echo::measuredAs(1000), "17.00"},
    {"ShortEchoInSinglePrecision", sim::Echo::measuredAs(15), "0.25"},
    {"NoEcho", sim::Echo::none(), "0.00"},
    {"NothingInRange", sim::Echo::outOfRange(), "0.00"},
    {"BeyondTheCeiling", sim::Echo::measuredAs(13300), "0.00"},
};

class GetSonar : public OnBoard, public ::testing::WithParamInterface<Reading> {};

TEST_P(GetSonar, ReadsTheModulesEcho)
{
    board.setCosts({});
    board.scriptEchoes({GetParam().echo}, sim::ScriptEnd::Throw);
    wiringPiSetup();
    configurePins();
    EXPECT_EQ(printed(getSonar()), GetParam().printed);
}

INSTANTIATE_TEST_SUITE_P(Echoes, GetSonar, ::testing::ValuesIn(kReadings),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(OnBoard, GetSonarFiresATenMicrosecondTriggerThenTimesTheEchoAtOnce)
{
    wiringPiSetup();
    configurePins();
    const size_t configured = board.calls().size();
    const int64_t s = board.nowNs() / sim::kNsPerUs;

    getSonar();

    const std::vector<std::string> calls(board.calls().begin() + configured, board.calls().begin() + configured + 5);
    const std::vector<std::string> expected = {
        "digitalWrite(4, 1)", "delayMicroseconds(10)", "digitalWrite(4, 0)", stamp(s + 10), "digitalRead(5) -> 0",
    };
    EXPECT_EQ(calls, expected);
}

} // namespace
