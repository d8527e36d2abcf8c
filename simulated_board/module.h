// The ultrasonic module wired to the simulated board: a trigger on its input
// starts a measurement, and its echo line goes HIGH for as long as the script,
// or the built-in scene, says.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include <wiringPi.h>

namespace sim {

constexpr int64_t kNsPerUs = 1000;
constexpr int64_t kNsPerMs = 1000 * kNsPerUs;

// What the module does on its next trigger.
struct Echo {
    enum class Kind {
        HighFor,    // the echo is HIGH for highNs
        MeasuredAs, // HIGH for long enough that polling measures exactly measuredUs
        None,       // the echo never rises
        OutOfRange, // nothing in range: HIGH for the module's own time-out
    };
    Kind kind;
    int64_t highNs = 0;
    int measuredUs = 0;

    static Echo highFor(int64_t ns) { return {Kind::HighFor, ns, 0}; }
    static Echo measuredAs(int us) { return {Kind::MeasuredAs, 0, us}; }
    static Echo none() { return {Kind::None, 0, 0}; }
    static Echo outOfRange() { return {Kind::OutOfRange, 0, 0}; }
};

// How long the module holds its echo HIGH for `echo`, none for an echo that
// never rises. `pollNs` is what one poll of the echo costs, by which a
// MeasuredAs echo is sized; where polls cost nothing to speak of, a
// MeasuredAs echo is exactly its width.
std::optional<int64_t> echoHighNs(const Echo& echo, int64_t pollNs);

class Module {
public:
    // `startNs`: when the run starts, for the scene.
    explicit Module(int64_t startNs) : startNs_(startNs) {}

    // Each trigger takes the next echo; once they are all taken, none rises.
    void script(std::vector<Echo> echoes);
    bool scriptUsedUp() const { return scriptNext_ == script_.size(); }
    // An object drifting back and forth in front of the module, for ever.
    void playScene() { scene_ = true; }
    // Raises the echo line over [riseNs, fallNs) regardless of the trigger.
    void driveEcho(int64_t riseNs, int64_t fallNs) { echoSpans_.push_back({riseNs, fallNs}); }

    // The trigger line goes from `from` to `to` at `nowNs`. `pollNs` is what
    // one poll of the echo costs, which a MeasuredAs echo is sized by.
    void onTrigger(int from, int to, int64_t nowNs, int64_t pollNs);
    int echoLevel(int64_t nowNs) const
    {
        for (const HighSpan& span : echoSpans_) {
            if (span.riseNs <= nowNs && nowNs < span.fallNs)
                return HIGH;
        }
        return LOW;
    }

private:
    struct HighSpan {
        int64_t riseNs;
        int64_t fallNs;
    };

    Echo nextEcho(int64_t nowNs);

    int64_t startNs_;
    int64_t triggerRoseNs_ = 0;
    int64_t busyUntilNs_ = 0;
    // Grows at the first reading only: a reading allocates nothing on the
    // board either.
    std::vector<HighSpan> echoSpans_;

    std::vector<Echo> script_;
    size_t scriptNext_ = 0;
    bool scene_ = false;
    uint32_t noise_ = 2463534242u; // the scene's noise generator
};

} // namespace sim
