// ranging-loadtest: readings taken by the real timing code, on the real
// monotonic clock, while every core is kept busy. A second thread plays the
// module: it raises and lowers an echo line in memory, stamping the clock
// around each write, so that every reading can be compared with the echo's
// true width. Each reading's first attempt is counted as it comes
// ("unchecked": no bound, no retry) and the reading it leads to as the
// program prints it ("checked").
//
//   ranging-loadtest [READINGS]     (default 10000)
#include <sched.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>
#include <thread>
#include <functional>
#include <vector>

#include <wiringPi.h>

#include "gpio_pins.h"
#include "ranging.h"

namespace {

constexpr int kDefaultReadings = 10000;
constexpr int64_t kEchoTimeoutUs = 13200;
// Widths across the whole range the program reports, each echo rising a
// little after the trigger falls, as a module's does.
constexpr int kShortestEchoUs = 100;
constexpr int kLongestEchoUs = 12500;
constexpr int64_t kEchoDelayNs = 200000;
// A write whose two stamps lie further apart than this cannot be placed, and
// the reading it belongs to is left out of the count.
constexpr int64_t kPlacedWithinNs = 2000;
// Stands in for the program's 1000 ms between readings: the reading thread
// sleeps, and so wakes with the scheduler's favour, as the program does.
constexpr unsigned kBetweenReadingsMs = 10;
constexpr double kCmPerUs = 0.017;
constexpr double kWrongCm = 0.5;
constexpr uint64_t kSeed = 20261208;

int64_t nowNs()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

void spinUntil(int64_t ns)
{
    while (nowNs() < ns) {
    }
}

// What the module did for one trigger.
struct EchoRecord {
    int64_t trueNs = 0;
    bool placed = false;
    bool endedInTime = false; // fell within the time-out after the trigger fell
};

// The GPIO lines in memory, and what the module did for each trigger.
std::atomic<int> gEchoLine{LOW};
std::atomic<int> gTriggerLine{LOW};
std::atomic<int64_t> gTriggerFellNs{0};
std::atomic<int> gTriggers{0};
std::atomic<int> gServed{0}; // the last trigger whose echo is over and recorded
std::atomic<bool> gStop{false};
std::vector<EchoRecord> gEchoes; // by trigger, from 1; written before gServed moves past it

// The module: for each trigger, an echo of the next width.
void driveEchoes(const std::vector<int>& widthsUs)
{
    while (!gStop.load(std::memory_order_relaxed)) {
        // A trigger that came while the last echo was still high is skipped,
        // and its reading left out.
        const int trigger = gTriggers.load(std::memory_order_acquire);
        if (trigger == gServed.load(std::memory_order_relaxed) || trigger >= static_cast<int>(gEchoes.size()))
            continue;
        const int64_t fellNs = gTriggerFellNs.load(std::memory_order_relaxed);
        spinUntil(fellNs + kEchoDelayNs);
        const int64_t beforeRise = nowNs();
        gEchoLine.store(HIGH, std::memory_order_release);
        const int64_t afterRise = nowNs();
        spinUntil(beforeRise + widthsUs[static_cast<size_t>(trigger)] * 1000);
        const int64_t beforeFall = nowNs();
        gEchoLine.store(LOW, std::memory_order_release);
        const int64_t afterFall = nowNs();

        EchoRecord& echo = gEchoes[static_cast<size_t>(trigger)];
        echo.trueNs = (beforeFall + afterFall) / 2 - (beforeRise + afterRise) / 2;
        echo.placed = afterRise - beforeRise <= kPlacedWithinNs && afterFall - beforeFall <= kPlacedWithinNs;
        echo.endedInTime = afterFall - fellNs <= kEchoTimeoutUs * 1000;
        gServed.store(trigger, std::memory_order_release);
    }
}

// A CPU-bound thread at normal priority.
void keepBusy()
{
    volatile uint64_t spins = 0;
    while (!gStop.load(std::memory_order_relaxed))
        spins = spins + 1;
}

struct Tally {
    int readings = 0;
    int wrong = 0;
    int lost = 0;
    double worstCm = 0;

    // `printed`: the reading as the program prints it; `echo`: the echo it
    // came from.
    void count(float cm, const EchoRecord& echo)
    {
        char text[32];
        std::snprintf(text, sizeof text, "%.2f", static_cast<double>(cm));
        const double printed = std::strtod(text, nullptr);
        ++readings;
        if (printed == 0) {
            lost += echo.endedInTime;
            return;
        }
        const double errorCm = std::fabs(printed - echo.trueNs / 1000.0 * kCmPerUs);
        wrong += errorCm > kWrongCm;
        worstCm = std::max(worstCm, errorCm);
    }

    void print(const char* name) const
    {
        std::printf("%s: %d readings, %d wrong by more than 0.5 cm, %d lost, worst error %.2f cm\n", name, readings,
                    wrong, lost, worstCm);
    }
};

} // namespace

// The GPIO library, over the lines in memory.
int wiringPiSetup(void) { return 0; }
void pinMode(int, int) {}
void pullUpDnControl(int, int) {}
int digitalRead(int pin) { return pin == kEchoPin ? gEchoLine.load(std::memory_order_acquire) : LOW; }
void digitalWrite(int pin, int value)
{
    if (pin != kTriggerPin)
        return;
    if (value == LOW && gTriggerLine.load() == HIGH) {
        gTriggerFellNs.store(nowNs(), std::memory_order_relaxed);
        gTriggers.fetch_add(1, std::memory_order_release);
    }
    gTriggerLine.store(value);
}
void delay(unsigned int ms)
{
    const timespec wait{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000};
    nanosleep(&wait, nullptr);
}
void delayMicroseconds(unsigned int us) { spinUntil(nowNs() + us * 1000); }

int main(int argc, char** argv)
{
    const int readings = argc > 1 ? std::atoi(argv[1]) : kDefaultReadings;
    if (readings < 1) {
        std::fprintf(stderr, "usage: ranging-loadtest [READINGS]  (a whole number, 1 or more)\n");
        return 2;
    }
    std::mt19937_64 random(kSeed);
    std::uniform_int_distribution<int> widthUs(kShortestEchoUs, kLongestEchoUs);
    // At most three attempts a reading, each one trigger.
    const size_t triggers = 3 * static_cast<size_t>(readings) + 1;
    std::vector<int> widthsUs(triggers);
    for (int& width : widthsUs)
        width = widthUs(random);
    gEchoes.resize(triggers);

    const unsigned busy = std::thread::hardware_concurrency();
    std::printf("%d readings of echoes from %d to %d us, with %u CPU-bound threads keeping every core busy\n",
                readings, kShortestEchoUs, kLongestEchoUs, busy);
    std::fflush(stdout);
    std::thread module(driveEchoes, std::cref(widthsUs));
    std::vector<std::thread> load;
    for (unsigned i = 0; i < busy; ++i)
        load.emplace_back(keepBusy);

    Tally unchecked;
    Tally checked;
    int leftOut = 0;
    for (int i = 0; i < readings; ++i) {
        delay(kBetweenReadingsMs);
        const int first = gTriggers.load() + 1;
        const EchoTiming firstAttempt = fireAndTimeEcho();
        const float checkedCm = trustedReading(firstAttempt);
        const int last = gTriggers.load();
        // The module finishes its last echo before its record is read.
        while (gServed.load(std::memory_order_acquire) < last)
            sched_yield();

        bool placed = true;
        for (int trigger = first; trigger <= last; ++trigger)
            placed = placed && gEchoes[static_cast<size_t>(trigger)].placed;
        if (!placed) {
            ++leftOut;
            continue;
        }
        unchecked.count(echoWidthToCm(firstAttempt.widthUs), gEchoes[static_cast<size_t>(first)]);
        checked.count(checkedCm, gEchoes[static_cast<size_t>(last)]);
    }

    gStop = true;
    module.join();
    for (std::thread& thread : load)
        thread.join();
    std::printf("left out: %d readings whose echo could not be placed within 2 us\n", leftOut);
    unchecked.print("unchecked");
    checked.print("checked");
    return 0;
}
