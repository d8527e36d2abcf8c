// ranging-sim run as a process: its bytes on standard output and standard
// error, and how it ended.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

namespace {

using Env = std::vector<std::pair<const char*, const char*>>;

const char* const kSettings[] = {"SIM_ECHOES", "SIM_SETUP", "SIM_REALTIME"};

// ranging-sim's path, after the emulator and its options where it is built
// for another machine.
const char* const kSimCommand[] = {RANGING_SIM_COMMAND, nullptr};

struct Outcome {
    std::string out;
    std::string err;
    int status = 0;
    double seconds = 0;
};

std::string readAll(int fd)
{
    std::string text;
    char chunk[4096];
    for (ssize_t n; (n = read(fd, chunk, sizeof chunk)) > 0;)
        text.append(chunk, static_cast<size_t>(n));
    close(fd);
    return text;
}

// Runs ranging-sim with exactly the given settings, its output into pipes.
Outcome runSim(const Env& env)
{
    int out[2];
    int err[2];
    if (pipe(out) != 0 || pipe(err) != 0)
        ADD_FAILURE() << "pipe";
    const auto started = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        dup2(err[1], STDERR_FILENO);
        close(out[0]);
        close(err[0]);
        for (const char* name : kSettings)
            unsetenv(name);
        for (const auto& [name, value] : env)
            setenv(name, value, 1);
        execv(kSimCommand[0], const_cast<char* const*>(kSimCommand));
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    Outcome outcome;
    outcome.out = readAll(out[0]);
    outcome.err = readAll(err[0]);
    waitpid(pid, &outcome.status, 0);
    outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return outcome;
}

std::string lines(const std::vector<const char*>& readings)
{
    std::string text = "Program is starting ... \n";
    for (const char* cm : readings)
        text += std::string("The distance is : ") + cm + " cm\n";
    return text;
}

const int kKilled = -SIGTERM;

int ending(int status)
{
    return WIFSIGNALED(status) ? -WTERMSIG(status) : WEXITSTATUS(status);
}

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
    return {name, {{setting, value}}, "", 2, "ranging-sim: " + std::string(setting) + "=\"" + value + "\": " + why + "\n"};
}

const std::string kNotAnEcho = " is not a width from 1 to 1000000 (µs), \"none\" or \"stuck\"";

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

class RangingSim : public ::testing::TestWithParam<SimRun> {};

TEST_P(RangingSim, PrintsExactlyAndEndsAsExpected)
{
    const SimRun& run = GetParam();
    const Outcome outcome = runSim(run.env);
    EXPECT_EQ(outcome.out, run.out);
    EXPECT_EQ(outcome.err, run.err);
    EXPECT_EQ(ending(outcome.status), run.ending);
}

INSTANTIATE_TEST_SUITE_P(Runs, RangingSim, ::testing::ValuesIn(kRuns),
                         [](const auto& info) { return std::string(info.param.name); });

// Into a pipe the C library buffers a few kilobytes; a process killed with
// lines still buffered would lose them all.
TEST(RangingSimIntoAPipe, KeepsEveryLineWhenKilled)
{
    constexpr int kReadings = 100;
    std::string echoes;
    std::vector<const char*> readings;
    for (int i = 0; i < kReadings; ++i) {
        echoes += "1000,";
        readings.push_back("17.00");
    }
    const Outcome outcome = runSim({{"SIM_ECHOES", echoes.c_str()}, {"SIM_REALTIME", "0"}});
    EXPECT_EQ(outcome.out, lines(readings));
    EXPECT_EQ(ending(outcome.status), kKilled);
}

TEST(RangingSimInRealTime, PausesAboutASecondBetweenReadings)
{
    const Outcome outcome = runSim({{"SIM_ECHOES", "1000 1000"}});
    EXPECT_EQ(outcome.out, lines({"17.00", "17.00"}));
    EXPECT_GE(outcome.seconds, 1.0);
    EXPECT_LT(outcome.seconds, 5.0);
}

} // namespace
