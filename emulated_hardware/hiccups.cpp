// ranging-hiccups: runs a command while the processors are taken from it
// now and then, as a hypervisor takes a virtual machine's: on each
// processor a thread of its own, at the top real-time priority, sleeps a
// while and then spins for 5 to 30 ms, a few times a second, until the
// command ends. Nothing on that processor runs meanwhile, not even the
// module played at a real-time priority above the program's. The command
// starts at normal priority; its status is this program's.
//
//   ranging-hiccups COMMAND [ARG...]
#include <pthread.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <random>
#include <thread>
#include <vector>

#include "driven_echo.h"

namespace {

// Each hiccup: from 5 to 30 ms, after a sleep of 100 to 500 ms (about three
// a second). The kernel's real-time throttling, 50 ms of every second kept
// for the rest, never cuts one short.
constexpr int64_t kShortestHiccupNs = 5000000;
constexpr int64_t kLongestHiccupNs = 30000000;
constexpr int64_t kShortestSleepNs = 100000000;
constexpr int64_t kLongestSleepNs = 500000000;

std::atomic<bool> gCommandEnded{false};

struct Tally {
    int hiccups = 0;
    int64_t longestNs = 0;
    int64_t totalNs = 0;
};

// Takes processor `cpu` away now and then until the command ends.
void hiccupOn(unsigned cpu, Tally& tally)
{
    cpu_set_t only;
    CPU_ZERO(&only);
    CPU_SET(cpu, &only);
    sched_param top{};
    top.sched_priority = sched_get_priority_max(SCHED_FIFO);
    if (pthread_setaffinity_np(pthread_self(), sizeof only, &only) != 0 ||
        pthread_setschedparam(pthread_self(), SCHED_FIFO, &top) != 0) {
        std::fprintf(stderr, "ranging-hiccups: processor %u not taken: this needs root\n", cpu);
        return;
    }
    std::mt19937_64 random(std::random_device{}());
    std::uniform_int_distribution<int64_t> sleepNs(kShortestSleepNs, kLongestSleepNs);
    std::uniform_int_distribution<int64_t> hiccupNs(kShortestHiccupNs, kLongestHiccupNs);
    while (!gCommandEnded.load(std::memory_order_relaxed)) {
        emulated::sleepUntilNs(emulated::realNowNs() + sleepNs(random));
        const int64_t lengthNs = hiccupNs(random);
        emulated::spinUntilNs(emulated::realNowNs() + lengthNs);
        ++tally.hiccups;
        tally.totalNs += lengthNs;
        tally.longestNs = std::max(tally.longestNs, lengthNs);
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: ranging-hiccups COMMAND [ARG...]\n");
        return 2;
    }
    const int64_t startNs = emulated::realNowNs();
    const pid_t command = fork();
    if (command == 0) {
        execvp(argv[1], argv + 1);
        std::perror(argv[1]);
        _exit(127);
    }
    const unsigned cpus = std::thread::hardware_concurrency();
    std::vector<Tally> tallies(cpus);
    std::vector<std::thread> threads;
    for (unsigned cpu = 0; cpu < cpus; ++cpu)
        threads.emplace_back(hiccupOn, cpu, std::ref(tallies[cpu]));
    int status = 0;
    waitpid(command, &status, 0);
    gCommandEnded = true;
    for (std::thread& thread : threads)
        thread.join();

    const double seconds = static_cast<double>(emulated::realNowNs() - startNs) / 1e9;
    for (unsigned cpu = 0; cpu < cpus; ++cpu)
        std::fprintf(stderr,
                     "ranging-hiccups: processor %u taken %d times in %.0f s, %.1f%% of the time, %.1f ms at most\n",
                     cpu, tallies[cpu].hiccups, seconds, static_cast<double>(tallies[cpu].totalNs) / 1e7 / seconds,
                     static_cast<double>(tallies[cpu].longestNs) / 1e6);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
