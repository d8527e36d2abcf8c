// ranging-sim run as a process: its bytes on standard output and standard
// error, and how it ended.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <string>
#include <vector>

#include "sim_process.h"

namespace {

struct Outcome {
    std::string out;
    std::string err;
    int ending = 0;
    double seconds = 0;
};

// Runs ranging-sim with exactly the given settings, to its end.
Outcome runSim(const Env& env)
{
    const auto started = std::chrono::steady_clock::now();
    const SimProcess sim = startSim(env);
    Outcome outcome;
    outcome.out = readAll(sim.out);
    outcome.err = readAll(sim.err);
    outcome.ending = waitForEnding(sim.pid);
    outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return outcome;
}

const int kKilled = -SIGTERM;

struct SimRun {
    const char* name;
    Env env;
    std::string out;
    int ending; // exit status, or minus the signal that ended it
    std::string err;
};

// A bad setting: one line on standard error, nothing on standard output.
SimRun refused(const char* name, const char* setting, const char* value, const std::string& why)
{
    return {
        name, {{setting, value}}, "", 2, "ranging-sim: " + std::string(setting) + "=\"" + value + "\": " + why + "\n"};
}

const std::string kNotAnEcho = " is not a width from 1 to 1000000 (µs), \"none\" or \"stuck\"";

// clang-format off
const SimRun kRuns[] = {
    {"ScriptedReadingsThenKilled", {{"SIM_ECHOES", "1000,none"}, {"SIM_REALTIME", "0"}},
     lines({"17.00", "0.00"}), kKilled, ""},
    {"ReadingsInSinglePrecisionAndHalvesToEven", {{"SIM_ECHOES", "15 25,125 ,375 5882"}, {"SIM_REALTIME", "0"}},
     lines({"0.25", "0.43", "2.12", "6.38", "99.99"}), kKilled, ""},
    {"EchoesEndingPastTheTimeoutReadZero", {{"SIM_ECHOES", "stuck 1000000 13179 13180 1"}, {"SIM_REALTIME", "0"}},
     lines({"0.00", "0.00", "224.04", "0.00", "0.02"}), kKilled, ""},
    {"FailedSetup", {{"SIM_SETUP", "fail"}},
     "Program is starting ... \nsetup wiringPi failed !", 1, ""},
    refused("EchoOutOfRange", "SIM_ECHOES", "1000,1000001", "\"1000001\"" + kNotAnEcho),
    refused("EchoOfZero", "SIM_ECHOES", "0", "\"0\"" + kNotAnEcho),
    refused("EchoNotANumber", "SIM_ECHOES", "12cm", "\"12cm\"" + kNotAnEcho),
    refused("NoEchoesListed", "SIM_ECHOES", " , ", "no readings listed"),
    refused("UnknownSetup", "SIM_SETUP", "ok", "the only value is \"fail\""),
    refused("UnknownRealtime", "SIM_REALTIME", "no", "must be 0 (no sleeping) or 1 (sleep in real time)"),
};
// clang-format on

class RangingSim : public ::testing::TestWithParam<SimRun> {};

TEST_P(RangingSim, PrintsExactlyAndEndsAsExpected)
{
    const SimRun& run = GetParam();
    const Outcome outcome = runSim(run.env);
    EXPECT_EQ(outcome.out, run.out);
    EXPECT_EQ(outcome.err, run.err);
    EXPECT_EQ(outcome.ending, run.ending);
}

INSTANTIATE_TEST_SUITE_P(Runs, RangingSim, ::testing::ValuesIn(kRuns),
                         [](const auto& info) { return std::string(info.param.name); });

// Into a pipe the C library buffers a few kilobytes; a process killed with
// lines still buffered would lose them all.
TEST(RangingSimIntoAPipe, KeepsEveryLineWhenKilled)
{
    constexpr int kReadings = 100;
    const std::string script = echoes(kReadings, 1000);
    const Outcome outcome = runSim({{"SIM_ECHOES", script.c_str()}, {"SIM_REALTIME", "0"}});
    EXPECT_EQ(outcome.out, lines(std::vector<const char*>(kReadings, "17.00")));
    EXPECT_EQ(outcome.ending, kKilled);
}

// The ceiling is loose because the run includes the process's start, which
// under a loaded emulator has taken over 3 s; a pause ten times too long
// would overshoot it by 10 s.
TEST(RangingSimInRealTime, PausesAboutASecondBetweenReadings)
{
    const Outcome outcome = runSim({{"SIM_ECHOES", "1000 1000"}});
    EXPECT_EQ(outcome.out, lines({"17.00", "17.00"}));
    EXPECT_GE(outcome.seconds, 1.0);
    EXPECT_LT(outcome.seconds, 10.0);
}

} // namespace
