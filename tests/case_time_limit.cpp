// A time limit on each test case, linked into every GoogleTest program: a
// case that hangs (a program that never fires the module waits for ever for
// the readings that would end it) fails on its own, naming itself, within
// the limit, and the other cases' processes run and report as before.
#include <gtest/gtest.h>

#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>

namespace {

// The slowest case takes 1.5 s alone under emulation, about four times that
// while CI builds and makes systems beside it: this is five times that.
constexpr unsigned kCaseLimitS = 30;

// What is said when the running case passes its limit, written before it
// starts: a signal handler may only write it.
char gLimitMessage[512];

void onLimit(int)
{
    (void)!write(STDERR_FILENO, gLimitMessage, std::strlen(gLimitMessage));
    _exit(1);
}

class CaseTimeLimit : public testing::EmptyTestEventListener {
    void OnTestStart(const testing::TestInfo& info) override
    {
        std::snprintf(gLimitMessage, sizeof gLimitMessage, "\n[  HUNG    ] %s.%s: still running after %u s\n",
                      info.test_suite_name(), info.name(), kCaseLimitS);
        std::signal(SIGALRM, onLimit);
        alarm(kCaseLimitS);
    }
    void OnTestEnd(const testing::TestInfo&) override { alarm(0); }
};

const bool gLimited = [] {
    testing::UnitTest::GetInstance()->listeners().Append(new CaseTimeLimit);
    return true;
}();

} // namespace
