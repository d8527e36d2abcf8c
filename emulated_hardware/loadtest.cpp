// ranging-loadtest: readings taken by the real timing code, on the real
// monotonic clock, while every core is kept busy. A second thread plays the
// module at a real-time priority above the program's, as hardware is not
// slowed by load: it raises and lowers an echo line in memory, stamping the
// clock around each write, so that every reading can be compared with the
// echo's true width. In turn it measures:
//   - at normal priority, each reading's first attempt as it comes
//     ("unchecked": no bound, no retry) and the reading it leads to as the
//     program prints it ("checked at normal priority");
//   - with the program's own priority request and memory lock, the readings
//     as the program prints them ("checked");
//   - the module's triggers for readings with no echo at all, with that
//     priority, under the load and with the machine otherwise idle.
// It exits 0 when no reading the program prints is wrong, and it loses few:
// see kLostPercentBar.
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
#include <functional>
#include <random>
#include <thread>
#include <vector>

#include <wiringPi.h>

#include "driven_echo.h"
#include "gpio_pins.h"
#include "ranging.h"
#include "realtime.h"

namespace {

constexpr int kDefaultReadings = 10000;
// Widths across the whole range the program reports.
constexpr int kNarrowestUs = 100;
constexpr int kWidestUs = 12500;
// Stands in for the program's 1000 ms between readings: the reading thread
// sleeps, and so wakes with the scheduler's favour, as the program does.
constexpr unsigned kBetweenReadingsMs = 10;
constexpr double kWrongCm = 0.5;
constexpr uint64_t kSeed = 20261208;
// With its priority, the program lost none of 1,997 readings on a busy
// machine; a processor taken for up to 30 ms a few times a second (a
// hypervisor's, tools/hiccups) spoils an attempt now and then, and a reading
// only when all three are: far fewer than one in a hundred.
constexpr int kLostPercentBar = 1;

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
std::atomic<int> gServed{0};      // the last trigger whose echo is over and recorded
std::atomic<bool> gEchoing{true}; // false: the module sees nothing in range
std::atomic<bool> gStop{false};   // the module's
std::atomic<bool> gStopLoad{false};
std::vector<EchoRecord> gEchoes; // by trigger, from 1; written before gServed moves past it

// One echo, on the line in memory.
EchoRecord driveEcho(int64_t fellNs, int widthUs)
{
    const emulated::DrivenEcho driven = emulated::driveEcho(fellNs, widthUs * int64_t{1000}, [](bool high) {
        gEchoLine.store(high ? HIGH : LOW, std::memory_order_release);
    });
    return {driven.trueNs, driven.placedWithinNs <= emulated::kPlacedWithinNs,
            driven.endedAfterNs <= int64_t{kEchoTimeoutUs} * 1000};
}

// The module: for each trigger, an echo of the next width, or none.
void playModule(const std::vector<int>& widthsUs)
{
    if (!emulated::runAsHardware())
        std::fprintf(stderr, "ranging-loadtest: no real-time priority for the module; run as root\n");
    while (!gStop.load(std::memory_order_relaxed)) {
        emulated::napBetweenLooks();
        // A trigger that came while the last echo was still high is skipped,
        // and its reading left out.
        // The last trigger and when it fell, read together: the program may
        // fire again between two reads of a module held up.
        int trigger = 0;
        int64_t fellNs = 0;
        do {
            trigger = gTriggers.load(std::memory_order_acquire);
            fellNs = gTriggerFellNs.load(std::memory_order_acquire);
        } while (trigger != gTriggers.load(std::memory_order_acquire));
        if (trigger == gServed.load(std::memory_order_relaxed) || trigger >= static_cast<int>(gEchoes.size()))
            continue;
        if (gEchoing.load(std::memory_order_relaxed))
            gEchoes[static_cast<size_t>(trigger)] = driveEcho(fellNs, widthsUs[static_cast<size_t>(trigger)]);
        else
            gEchoes[static_cast<size_t>(trigger)] = {0, true, false};
        gServed.store(trigger, std::memory_order_release);
    }
}

// A CPU-bound thread at normal priority.
void keepBusy()
{
    volatile uint64_t spins = 0;
    while (!gStopLoad.load(std::memory_order_relaxed))
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
        const double errorCm = std::fabs(printed - static_cast<double>(echo.trueNs) / 1000.0 * kCmPerEchoUs);
        wrong += errorCm > kWrongCm;
        worstCm = std::max(worstCm, errorCm);
    }

    void print(const char* name) const
    {
        std::printf("%s: %d readings, %d wrong by more than 0.5 cm, %d lost, worst error %.2f cm\n", name, readings,
                    wrong, lost, worstCm);
    }
};

// The triggers of one reading, once the module has finished with them.
struct Triggers {
    int first;
    int last;
    bool placed() const
    {
        for (int trigger = first; trigger <= last; ++trigger) {
            if (!gEchoes[static_cast<size_t>(trigger)].placed)
                return false;
        }
        return true;
    }
    const EchoRecord& firstEcho() const { return gEchoes[static_cast<size_t>(first)]; }
    const EchoRecord& lastEcho() const { return gEchoes[static_cast<size_t>(last)]; }
};

// Takes one reading as the program does, after its pause: `read` fires the
// module and keeps what it needs of the result.
Triggers takeReading(const std::function<void()>& read)
{
    delay(kBetweenReadingsMs);
    const int first = gTriggers.load() + 1;
    read();
    const int last = gTriggers.load();
    while (gServed.load(std::memory_order_acquire) < last)
        sched_yield();
    return {first, last};
}

// Readings with no echo: how many triggers they fire.
int triggersWithNoEcho(int readings)
{
    gEchoing = false;
    int triggers = 0;
    for (int i = 0; i < readings; ++i) {
        const Triggers fired = takeReading([] { getSonar(); });
        triggers += fired.last - fired.first + 1;
    }
    gEchoing = true;
    return triggers;
}

std::vector<std::thread> startLoad()
{
    std::vector<std::thread> load;
    for (unsigned i = 0; i < std::thread::hardware_concurrency(); ++i)
        load.emplace_back(keepBusy);
    return load;
}

void stopLoad(std::vector<std::thread>& load)
{
    gStopLoad = true;
    for (std::thread& thread : load)
        thread.join();
}

} // namespace

// The GPIO library, over the lines in memory.
int wiringPiSetup(void)
{
    return 0;
}
void pinMode(int, int) {}
void pullUpDnControl(int, int) {}
int digitalRead(int pin)
{
    return pin == kEchoPin ? gEchoLine.load(std::memory_order_acquire) : LOW;
}
void digitalWrite(int pin, int value)
{
    if (pin != kTriggerPin)
        return;
    if (value == LOW && gTriggerLine.load() == HIGH) {
        gTriggerFellNs.store(emulated::realNowNs(), std::memory_order_release);
        gTriggers.fetch_add(1, std::memory_order_release);
    }
    gTriggerLine.store(value);
}
void delay(unsigned int ms)
{
    const timespec wait{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000};
    nanosleep(&wait, nullptr);
}
void delayMicroseconds(unsigned int us)
{
    emulated::spinUntilNs(emulated::realNowNs() + int64_t{us} * 1000);
}
// As the library does it: round-robin real-time scheduling for the caller.
int piHiPri(const int pri)
{
    sched_param param{};
    param.sched_priority = pri;
    return sched_setscheduler(0, SCHED_RR, &param);
}

int main(int argc, char** argv)
{
    const int readings = argc > 1 ? std::atoi(argv[1]) : kDefaultReadings;
    if (readings < 1) {
        std::fprintf(stderr, "usage: ranging-loadtest [READINGS]  (a whole number, 1 or more)\n");
        return 2;
    }
    // Two runs of echoes and two of none, each reading at most three triggers.
    const size_t triggers = size_t{kAttempts} * 4 * static_cast<size_t>(readings) + 1;
    std::mt19937_64 random(kSeed);
    std::uniform_int_distribution<int> widthUs(kNarrowestUs, kWidestUs);
    std::vector<int> widthsUs(triggers);
    for (int& width : widthsUs)
        width = widthUs(random);
    gEchoes.resize(triggers);

    std::printf("%d readings of echoes from %d to %d us, with %u CPU-bound threads keeping every core busy\n", readings,
                kNarrowestUs, kWidestUs, std::thread::hardware_concurrency());
    std::fflush(stdout);
    std::thread module(playModule, std::cref(widthsUs));
    std::vector<std::thread> load = startLoad();

    Tally unchecked;
    Tally checkedAtNormal;
    Tally checked;
    int leftOut = 0;
    for (int i = 0; i < readings; ++i) {
        EchoTiming firstAttempt{};
        float printedCm = 0;
        const Triggers fired = takeReading([&] {
            firstAttempt = fireAndTimeEcho();
            printedCm = trustedReading(firstAttempt);
        });
        if (!fired.placed()) {
            ++leftOut;
            continue;
        }
        unchecked.count(echoWidthToCm(firstAttempt.widthUs), fired.firstEcho());
        checkedAtNormal.count(printedCm, fired.lastEcho());
    }

    // From here on, as the program runs.
    if (!keepTimingUndisturbed())
        std::fprintf(stderr, "ranging-loadtest: no real-time priority for the readings; run as root\n");
    for (int i = 0; i < readings; ++i) {
        float printedCm = 0;
        const Triggers fired = takeReading([&] { printedCm = getSonar(); });
        if (!fired.placed()) {
            ++leftOut;
            continue;
        }
        checked.count(printedCm, fired.lastEcho());
    }
    const int triggersBusy = triggersWithNoEcho(readings);
    stopLoad(load);
    const int triggersIdle = triggersWithNoEcho(readings);

    gStop = true;
    module.join();
    std::printf("left out: %d readings whose echo could not be placed within 2 us\n", leftOut);
    checkedAtNormal.print("checked at normal priority");
    std::printf("no echo: %d readings, %d triggers idle, %d triggers busy\n", readings, triggersIdle, triggersBusy);
    unchecked.print("unchecked");
    checked.print("checked");
    const bool wrong = checked.wrong > 0 || checkedAtNormal.wrong > 0;
    const bool tooManyLost = checked.lost * 100 > checked.readings * kLostPercentBar;
    if (!wrong && !tooManyLost) {
        std::printf("right\n");
        return 0;
    }
    std::printf("wrong:");
    if (wrong)
        std::printf(" a checked reading is wrong;");
    if (tooManyLost)
        std::printf(" more than %d%% of the checked readings lost;", kLostPercentBar);
    std::printf("\n");
    return 1;
}
