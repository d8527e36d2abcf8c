// ranging-sim under what a long-running process meets: its reader going away,
// a full device, being stopped and continued, and a long run.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "sim_process.h"

namespace {

// Far more lines than a pipe holds, so that the program is still writing
// whatever the test does in between.
constexpr int kLongRun = 10000;
constexpr int kShortEchoUs = 60; // quick to time; reads 1.02 cm
const char kShortEchoCm[] = "1.02";
constexpr int kKilled = -SIGTERM;

// Its standard output, a line at a time.
class OutputLines {
public:
    explicit OutputLines(int fd) : file_(fdopen(fd, "r")) {}
    ~OutputLines() { close(); }
    OutputLines(const OutputLines&) = delete;
    OutputLines& operator=(const OutputLines&) = delete;
    OutputLines(OutputLines&&) = delete;
    OutputLines& operator=(OutputLines&&) = delete;

    std::string next()
    {
        char* line = nullptr;
        size_t capacity = 0;
        const ssize_t length = getline(&line, &capacity, file_);
        std::string text = length > 0 ? std::string(line, static_cast<size_t>(length)) : "";
        std::free(line);
        return text;
    }

    std::string take(int count)
    {
        std::string text;
        for (int i = 0; i < count; ++i)
            text += next();
        return text;
    }

    void close()
    {
        if (file_)
            std::fclose(file_);
        file_ = nullptr;
    }

private:
    FILE* file_;
};

TEST(RangingSimWhenItsReaderGoesAway, EndsOnTheBrokenPipeAfterWholeLines)
{
    const std::string script = echoes(kLongRun, kShortEchoUs);
    const SimProcess sim = startSim({{"SIM_ECHOES", script.c_str()}, {"SIM_REALTIME", "0"}});
    OutputLines out(sim.out);

    EXPECT_EQ(out.take(4), lines({kShortEchoCm, kShortEchoCm, kShortEchoCm}));
    out.close();

    EXPECT_EQ(readAll(sim.err), "");
    EXPECT_EQ(waitForEnding(sim.pid), -SIGPIPE) << "the C library's default: the process ends";
}

struct FullDeviceRun {
    const char* name;
    Env env;
    int ending;
};

const FullDeviceRun kFullDeviceRuns[] = {
    {"TakesEveryReadingAndIsKilledAtTheEnd", {{"SIM_ECHOES", "1000,1000,none"}, {"SIM_REALTIME", "0"}}, kKilled},
    {"StillExitsWithStatus1AfterAFailedSetup", {{"SIM_SETUP", "fail"}}, 1},
};

class RangingSimIntoAFullDevice : public ::testing::TestWithParam<FullDeviceRun> {};

// Every write fails; the program neither stops nor reports it, as it has no
// channel but its output.
TEST_P(RangingSimIntoAFullDevice, KeepsItsBehaviour)
{
    const int full = open("/dev/full", O_WRONLY);
    ASSERT_GE(full, 0);
    const SimProcess sim = startSim(GetParam().env, full);
    close(full);

    EXPECT_EQ(readAll(sim.err), "");
    EXPECT_EQ(waitForEnding(sim.pid), GetParam().ending);
}

INSTANTIATE_TEST_SUITE_P(Runs, RangingSimIntoAFullDevice, ::testing::ValuesIn(kFullDeviceRuns),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(RangingSimStoppedAndContinued, LosesNoLineAndCarriesOn)
{
    const std::string script = echoes(kLongRun, kShortEchoUs);
    const SimProcess sim = startSim({{"SIM_ECHOES", script.c_str()}, {"SIM_REALTIME", "0"}});
    OutputLines out(sim.out);
    std::string printed = out.take(6);

    kill(sim.pid, SIGSTOP);
    int status = 0;
    ASSERT_EQ(waitpid(sim.pid, &status, WUNTRACED), sim.pid);
    EXPECT_TRUE(WIFSTOPPED(status));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    kill(sim.pid, SIGCONT);

    for (std::string line; !(line = out.next()).empty();)
        printed += line;
    EXPECT_EQ(printed, lines(std::vector<const char*>(kLongRun, kShortEchoCm)));
    EXPECT_EQ(readAll(sim.err), "");
    EXPECT_EQ(waitForEnding(sim.pid), kKilled);
}

long residentKb(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string field; status >> field;) {
        if (field == "VmRSS:") {
            long kb = 0;
            status >> kb;
            return kb;
        }
    }
    return -1;
}

// A leak of a few bytes a reading would take a fresh block from the C
// library's heap, 132 KB, long before ten thousand readings.
constexpr long kPagesOfSlackKb = 64;

// Where AddressSanitizer catches a use of a stack frame after its return (g++
// 13 and later by default), it keeps frames on fake stacks that grow for
// thousands of calls before they level off: memory of the sanitizer's, not
// the program's, and so turned off here.
TEST(RangingSimOverALongRun, KeepsTheSameResidentMemory)
{
    const std::string script = echoes(2 * kLongRun, kShortEchoUs);
    const SimProcess sim = startSim(
        {{"SIM_ECHOES", script.c_str()}, {"SIM_REALTIME", "0"}, {"ASAN_OPTIONS", "detect_stack_use_after_return=0"}});
    OutputLines out(sim.out);

    out.take(11);
    const long earlyKb = residentKb(sim.pid);
    out.take(kLongRun - 10);
    const long lateKb = residentKb(sim.pid);
    kill(sim.pid, SIGTERM);
    out.close();

    ASSERT_GT(earlyKb, 0);
    EXPECT_LE(lateKb, earlyKb + kPagesOfSlackKb)
        << "after 10 readings " << earlyKb << " kB, after " << kLongRun << ": " << lateKb << " kB";
    EXPECT_EQ(waitForEnding(sim.pid), kKilled);
}

} // namespace
