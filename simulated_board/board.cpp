#include "board.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <utility>

#include <wiringPi.h>

#include "gpio_pins.h"

namespace sim {

namespace {

// Virtual time starts some seconds after boot, as the monotonic clock would.
constexpr int64_t kBootedNs = 7000 * kNsPerMs;

[[noreturn]] void breach(const std::string& what)
{
    std::fprintf(stderr, "simulated board: %s\n", what.c_str());
    std::abort();
}

// Ends the process as `kill` would, even where the parent left SIGTERM
// ignored or blocked.
[[noreturn]] void endBySigterm()
{
    std::signal(SIGTERM, SIG_DFL);
    sigset_t term;
    sigemptyset(&term);
    sigaddset(&term, SIGTERM);
    sigprocmask(SIG_UNBLOCK, &term, nullptr);
    std::raise(SIGTERM);
    std::abort();
}

} // namespace

std::string Board::Call::text() const
{
    std::string text = std::string(name) + "(";
    if (argc > 0)
        text += std::to_string(a);
    if (argc > 1)
        text += ", " + std::to_string(b);
    return text + ")";
}

void Board::keep(const Call& call, const int64_t* result)
{
    calls_.push_back(result == nullptr ? call.text() : call.text() + " -> " + std::to_string(*result));
}

Board::Board() : nowNs_(kBootedNs), module_(kBootedNs) {}

void Board::scriptEchoes(std::vector<Echo> echoes, ScriptEnd end)
{
    module_.script(std::move(echoes));
    scripted_ = true;
    scriptEnd_ = end;
}

void Board::setCosts(Costs costs)
{
    if (costs.pinReadNs <= 0 || costs.clockReadNs <= 0)
        breach("a pin read and a clock read must each cost some time");
    costs_ = costs;
}

void Board::stallAt(int64_t atNs, int64_t forNs)
{
    stalls_.push_back({atNs, forNs});
}

// Every call first lives through any stall that has come due. A stall lived
// through is left in place with nothing left of it: calls are many, stalls
// few.
void Board::beginCall()
{
    for (Stall& stall : stalls_) {
        if (stall.atNs <= nowNs_) {
            nowNs_ += stall.forNs;
            stall.forNs = 0;
        }
    }
}

void Board::requireSetUp(const Call& call) const
{
    if (!setUp_)
        breach(call.text() + " called before wiringPiSetup");
}

Board::Pin& Board::pinFor(const Call& call, int pin)
{
    requireSetUp(call);
    if (pin < 0 || pin >= kPinCount)
        breach(call.text() + ": there is no pin " + std::to_string(pin));
    return pins_[pin];
}

int Board::setup()
{
    record({"wiringPiSetup", 0, 0, 0}, setupResult_);
    setUp_ = setupResult_ != kSetupFailed;
    return setupResult_;
}

void Board::pinMode(int pin, int mode)
{
    const Call call{"pinMode", 2, pin, mode};
    Pin& p = pinFor(call, pin);
    if (mode != INPUT && mode != OUTPUT)
        breach(call.text() + ": mode must be INPUT (0) or OUTPUT (1)");
    p.mode = mode == INPUT ? Mode::Input : Mode::Output;
    record(call);
}

void Board::pullUpDnControl(int pin, int pud)
{
    const Call call{"pullUpDnControl", 2, pin, pud};
    Pin& p = pinFor(call, pin);
    if (pud != PUD_OFF && pud != PUD_DOWN && pud != PUD_UP)
        breach(call.text() + ": pull must be PUD_OFF (0), PUD_DOWN (1) or PUD_UP (2)");
    p.pull = pud;
    record(call);
}

void Board::digitalWrite(int pin, int value)
{
    const Call call{"digitalWrite", 2, pin, value};
    Pin& p = pinFor(call, pin);
    if (p.mode != Mode::Output)
        breach(call.text() + ": pin " + std::to_string(pin) + " is not an output");
    if (value != LOW && value != HIGH)
        breach(call.text() + ": level must be 0 or 1");
    beginCall();
    record(call);
    if (pin == kTriggerPin) {
        module_.onTrigger(p.level, value, nowNs_, costs_.pinReadNs + costs_.clockReadNs);
        if (p.level == HIGH && value == LOW) {
            nowNs_ += fallStallNs_;
            fallStallNs_ = 0;
        }
    }
    p.level = value;
}

int Board::digitalRead(int pin)
{
    const Call call{"digitalRead", 1, pin, 0};
    Pin& p = pinFor(call, pin);
    if (p.mode != Mode::Input)
        breach(call.text() + ": pin " + std::to_string(pin) + " is not an input");
    beginCall();
    const int64_t atNs = nowNs_;
    const int level = pin == kEchoPin ? module_.echoLevel(nowNs_) : p.pull == PUD_UP ? HIGH : LOW;
    nowNs_ += costs_.pinReadNs;
    record(call, level);
    if (pollWatcher_)
        pollWatcher_({PollEvent::Kind::PinRead, level, atNs});
    return level;
}

void Board::delayMs(unsigned ms)
{
    const Call call{"delay", 1, static_cast<int>(ms), 0};
    requireSetUp(call);
    beginCall();
    record(call);
    if (scripted_ && module_.scriptUsedUp()) {
        if (scriptEnd_ == ScriptEnd::Throw)
            throw RunEnded{};
        endBySigterm();
    }
    pause(ms * kNsPerMs);
}

void Board::delayUs(unsigned us)
{
    const Call call{"delayMicroseconds", 1, static_cast<int>(us), 0};
    requireSetUp(call);
    beginCall();
    record(call);
    pause(us * kNsPerUs);
}

int64_t Board::readClockUs()
{
    beginCall();
    const int64_t atNs = nowNs_;
    const int64_t us = atNs / kNsPerUs;
    nowNs_ += costs_.clockReadNs;
    record({"clock", 0, 0, 0}, us);
    if (pollWatcher_)
        pollWatcher_({PollEvent::Kind::ClockRead, us, atNs});
    return us;
}

int Board::piHiPri(int priority)
{
    record({"piHiPri", 1, priority, 0}, priorityResult_);
    return priorityResult_;
}

void Board::pause(int64_t ns)
{
    nowNs_ += ns;
    if (realtime_) {
        const timespec wait{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
        nanosleep(&wait, nullptr);
    }
}

void resetBoard()
{
    board() = Board{};
}

} // namespace sim
