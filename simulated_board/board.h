// A simulated board with an ultrasonic module wired to it. It owns time, holds
// the program to the GPIO library's contract, records the calls, and lets
// tests script what the module does. The library's calls (and the clock
// read) reach the one board that board() returns.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "module.h"

namespace sim {

// What each pin read and each clock read costs in time. One poll of the echo
// is one of each; by default that is exactly one microsecond.
struct Costs {
    int64_t pinReadNs = 250;
    int64_t clockReadNs = 750;
};

// How a run whose echo script is used up ends, at its next delay().
enum class ScriptEnd { RaiseSigterm, Throw };

// Thrown by delay() when the script is used up and ScriptEnd::Throw is set.
struct RunEnded {};

class Board {
public:
    Board();

    // --- set-up by tests and by ranging-sim's environment
    // Both must be positive, so that no polling loop can spin in no time.
    void setCosts(Costs costs);
    void setSetupResult(int result) { setupResult_ = result; }
    // What piHiPri returns: 0, granted, by default; -1, refused.
    void setPriorityResult(int result) { priorityResult_ = result; }
    void setRealtime(bool realtime) { realtime_ = realtime; }
    // Each trigger takes the next echo; once they are all taken, the next
    // delay() ends the run.
    void scriptEchoes(std::vector<Echo> echoes, ScriptEnd end);
    // An object drifting back and forth in front of the module, for ever.
    void playScene() { module_.playScene(); }
    // Raises the echo line over [riseNs, fallNs) regardless of the trigger.
    void driveEcho(int64_t riseNs, int64_t fallNs) { module_.driveEcho(riseNs, fallNs); }
    // The first call that starts at or after atNs finds the process was
    // stalled for forNs before it.
    void stallAt(int64_t atNs, int64_t forNs);
    // The process is stalled for forNs right after the trigger next falls,
    // before its next call.
    void stallAsTriggerFalls(int64_t forNs) { fallStallNs_ = forNs; }
    void recordCalls() { recording_ = true; }
    // Hands each pin read's level and each clock read's stamp, as they
    // happen, to `watcher`: for tests that poll millions of times and would
    // not keep a record of it all.
    struct PollEvent {
        enum class Kind { PinRead, ClockRead } kind;
        int64_t value; // the level read, or the stamp in µs
        int64_t atNs;  // when the level was seen or the stamp taken
    };
    void watchPolls(std::function<void(const PollEvent&)> watcher) { pollWatcher_ = std::move(watcher); }

    int64_t nowNs() const { return nowNs_; }
    const std::vector<std::string>& calls() const { return calls_; }

    // --- the GPIO library, as the program calls it
    int setup();
    void pinMode(int pin, int mode);
    void pullUpDnControl(int pin, int pud);
    void digitalWrite(int pin, int value);
    int digitalRead(int pin);
    void delayMs(unsigned ms);
    void delayUs(unsigned us);
    int64_t readClockUs();
    // Records the request and answers it; the process's own scheduling is
    // never changed.
    int piHiPri(int priority);

private:
    enum class Mode { Unset, Input, Output };
    struct Pin {
        Mode mode = Mode::Unset;
        int pull = 0;
        int level = 0;
    };
    struct Stall {
        int64_t atNs;
        int64_t forNs;
    };
    static constexpr int kPinCount = 32;

    // A library call as it is recorded and named in breach messages.
    struct Call {
        const char* name;
        int argc;
        int a;
        int b;
        std::string text() const;
    };

    void requireSetUp(const Call& call) const;
    Pin& pinFor(const Call& call, int pin);
    void beginCall();
    // The text is only built when calls are being recorded: polling must not
    // allocate, and the check is made on every call, so it alone is inline.
    void record(const Call& call)
    {
        if (recording_)
            keep(call, nullptr);
    }
    void record(const Call& call, int64_t result)
    {
        if (recording_)
            keep(call, &result);
    }
    void keep(const Call& call, const int64_t* result);
    void pause(int64_t ns);

    int64_t nowNs_;
    Costs costs_;
    int setupResult_ = 0;
    int priorityResult_ = 0;
    bool setUp_ = false;
    bool realtime_ = false;

    Pin pins_[kPinCount];
    Module module_;
    bool scripted_ = false;
    ScriptEnd scriptEnd_ = ScriptEnd::RaiseSigterm;

    std::vector<Stall> stalls_;
    int64_t fallStallNs_ = 0;

    bool recording_ = false;
    std::vector<std::string> calls_;
    std::function<void(const PollEvent&)> pollWatcher_;
};

// The board that the library's calls reach. Defined here so that each of
// the library's calls reaches it without a call of its own: under emulation
// calls cost far more than the work of a poll.
inline Board& board()
{
    static Board theBoard;
    return theBoard;
}

// Puts a new board in place of the old one.
void resetBoard();

} // namespace sim
