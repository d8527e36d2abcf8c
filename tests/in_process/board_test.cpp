// The simulated board holds the program to the library's contract, and its
// module answers only a proper trigger.
#include <functional>

#include "gpio_pins.h"
#include "on_board.h"
#include "ranging.h"

namespace {

struct Breach {
    const char* name;
    std::function<void()> calls;
    const char* message;
};

const Breach kBreaches[] = {
    {"ReadBeforeSetup", [] { digitalRead(kEchoPin); }, "digitalRead\\(5\\) called before wiringPiSetup"},
    {"ModeBeforeSetup", [] { pinMode(kTriggerPin, OUTPUT); }, "pinMode\\(4, 1\\) called before wiringPiSetup"},
    {"DelayBeforeSetup", [] { delay(1000); }, "delay\\(1000\\) called before wiringPiSetup"},
    {"CallAfterAFailedSetup",
     [] {
         sim::board().setSetupResult(-1);
         wiringPiSetup();
         pinMode(kEchoPin, INPUT);
     },
     "pinMode\\(5, 0\\) called before wiringPiSetup"},
    {"WriteToAnInput",
     [] {
         wiringPiSetup();
         pinMode(kEchoPin, INPUT);
         digitalWrite(kEchoPin, HIGH);
     },
     "digitalWrite\\(5, 1\\): pin 5 is not an output"},
    {"ReadOfAnOutput",
     [] {
         wiringPiSetup();
         pinMode(kTriggerPin, OUTPUT);
         digitalRead(kTriggerPin);
     },
     "digitalRead\\(4\\): pin 4 is not an input"},
    {"ReadOfAPinNeverConfigured",
     [] {
         wiringPiSetup();
         digitalRead(kEchoPin);
     },
     "digitalRead\\(5\\): pin 5 is not an input"},
    {"LevelOtherThan0Or1",
     [] {
         wiringPiSetup();
         pinMode(kTriggerPin, OUTPUT);
         digitalWrite(kTriggerPin, 2);
     },
     "digitalWrite\\(4, 2\\): level must be 0 or 1"},
};

class ContractBreach : public OnBoard, public ::testing::WithParamInterface<Breach> {};

TEST_P(ContractBreach, AbortsNamingTheBreach)
{
    EXPECT_DEATH(GetParam().calls(), std::string("^simulated board: ") + GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(Calls, ContractBreach, ::testing::ValuesIn(kBreaches),
                         [](const auto& info) { return std::string(info.param.name); });

struct Trigger {
    unsigned highUs;
    int widthUs;
};

class TriggerOf : public OnBoard, public ::testing::WithParamInterface<Trigger> {};

TEST_P(TriggerOf, StartsAMeasurementOnlyWhenLongEnough)
{
    board.setCosts({});
    board.scriptEchoes({sim::Echo::measuredAs(1000)}, sim::ScriptEnd::Throw);
    wiringPiSetup();
    configurePins();

    digitalWrite(kTriggerPin, HIGH);
    delayMicroseconds(GetParam().highUs);
    digitalWrite(kTriggerPin, LOW);

    EXPECT_EQ(pulseIn(kEchoPin, HIGH, 13200), GetParam().widthUs);
}

INSTANTIATE_TEST_SUITE_P(Lengths, TriggerOf, ::testing::Values(Trigger{9, 0}, Trigger{10, 1000}, Trigger{50, 1000}),
                         [](const auto& info) { return std::to_string(info.param.highUs) + "Us"; });

} // namespace
