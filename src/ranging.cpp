// One distance reading: fire the module's trigger, time its echo, turn the
// echo's width into centimetres.
#include "ranging.h"

#include <cstdint>

#include "clock.h"
#include "gpio_pins.h"

namespace {

// The module starts one measurement on a trigger held HIGH for at least this.
constexpr unsigned kTriggerPulseUs = 10;

// The limit on one whole timing call, the wait for the echo included. An echo
// of 13,200 µs is an object 224.4 cm away, the farthest reading we report;
// anything longer is treated as no echo, and a timing never takes longer.
constexpr int kEchoTimeoutUs = 13200;

// Polling can only place each edge of the echo between two stamps. When the
// process loses the processor between a read and its stamp, that gap, and so
// the reading's error, grows by the whole hold-up. A reading is printed only
// when its two edges' gaps together stay within 29 µs, 0.49 cm: under the
// half centimetre by which a reading counts as wrong. A time-out is trusted
// only when no two polls were further apart than that, since a hold-up can
// hide a whole echo.
constexpr int kTrustedErrorUs = 29;

// An untrusted reading is taken again, up to this many attempts in all; when
// none is trusted the reading is 0, as for no echo.
constexpr int kAttempts = 3;
// Before firing again, the module must have finished its measurement: module
// makers give 60 ms from trigger to trigger. Waiting this long after timing,
// which starts after the trigger, keeps to it.
constexpr unsigned kModuleCycleMs = 60;

constexpr double kSpeedOfSoundMps = 340.0;
constexpr double kOutAndBack = 2.0;     // the echo times the way there and back
constexpr double kUsMpsPerCm = 10000.0; // 1 µs at 1 m/s is 1/10,000 cm

// The stamp before the latest, until a phase has polled once: the wait keeps
// it only when its first read already saw the level.
constexpr int64_t kNoStamp = INT64_MIN;

enum class Poll { UntilLevel, WhileLevel };

// The stamps of a polling phase: `latest` is that of the last poll that did
// not end the phase, and `beforeLatest` the one before it, which preceded
// that poll's read.
struct PollStamps {
    int64_t beforeLatest;
    int64_t latest;
    bool heldUp;
};

// Polls back to back, the pin first and the clock second, until the pin reads
// `level` or for as long as it does. Returns false as soon as a stamp lies
// past `deadlineUs`.
bool poll(int pin, int level, Poll phase, int64_t deadlineUs, PollStamps& stamps)
{
    while ((digitalRead(pin) == level) == (phase == Poll::WhileLevel)) {
        const int64_t nowUs = monotonicNowUs();
        stamps.heldUp |= nowUs - stamps.latest > kTrustedErrorUs;
        stamps.beforeLatest = stamps.latest;
        stamps.latest = nowUs;
        if (nowUs > deadlineUs)
            return false;
    }
    return true;
}

EchoTiming timedOut(const PollStamps& stamps) { return {0, true, stamps.heldUp, false, 0, 0}; }

void fireTrigger()
{
    digitalWrite(kTriggerPin, HIGH);
    delayMicroseconds(kTriggerPulseUs);
    digitalWrite(kTriggerPin, LOW);
}

} // namespace

EchoTiming timeEcho(int pin, int level, int timeoutUs)
{
    // The limit counts from the start of the call, not from the edge; a poll
    // stamped exactly at the limit keeps polling.
    const int64_t startUs = monotonicNowUs();
    const int64_t deadlineUs = startUs + timeoutUs;

    PollStamps wait{kNoStamp, startUs, false};
    if (!poll(pin, level, Poll::UntilLevel, deadlineUs, wait))
        return timedOut(wait);
    const int64_t edgeUs = monotonicNowUs();

    // The pulse ends at the stamp of the last poll that still saw the level.
    // One gone before its first poll here measures 0, never less; its last
    // sighting was then the read that ended the wait.
    PollStamps pulse{wait.latest, edgeUs, wait.heldUp};
    if (!poll(pin, level, Poll::WhileLevel, deadlineUs, pulse))
        return timedOut(pulse);
    // One stamp after the read that saw the pulse gone closes its fall.
    const int64_t fallUs = monotonicNowUs();

    // The rise came after the read before the edge's (whose stamp is
    // wait.beforeLatest), the fall after the last read that saw the level.
    const bool highAtFirstRead = wait.beforeLatest == kNoStamp;
    const int64_t riseWindowUs = highAtFirstRead ? 0 : edgeUs - wait.beforeLatest;
    return {static_cast<int>(pulse.latest - edgeUs), false, pulse.heldUp, highAtFirstRead, riseWindowUs,
            fallUs - pulse.beforeLatest};
}

int pulseIn(int pin, int level, int timeoutUs)
{
    return timeEcho(pin, level, timeoutUs).widthUs;
}

bool isTrusted(const EchoTiming& timing)
{
    if (timing.timedOut)
        return !timing.heldUp;
    return !timing.highAtFirstRead && timing.riseWindowUs + timing.fallWindowUs <= kTrustedErrorUs;
}

float echoWidthToCm(int widthUs)
{
    // The width passes through single precision on the way in and the result
    // is narrowed to it on the way out: the printed reading is that of the
    // narrowed value (15 µs reads 0.25 cm, not the 0.26 of the exact 0.255).
    const double width = static_cast<float>(widthUs);
    return static_cast<float>(width * kSpeedOfSoundMps / kOutAndBack / kUsMpsPerCm);
}

EchoTiming fireAndTimeEcho()
{
    fireTrigger();
    // Timing starts at once: the module raises its echo only after sending
    // its burst, well after the trigger has fallen.
    return timeEcho(kEchoPin, HIGH, kEchoTimeoutUs);
}

float trustedReading(const EchoTiming& firstAttempt)
{
    EchoTiming echo = firstAttempt;
    for (int attempt = 1; !isTrusted(echo); ++attempt) {
        if (attempt == kAttempts)
            return 0; // no reading, as when no echo comes back
        delay(kModuleCycleMs);
        echo = fireAndTimeEcho();
    }
    return echoWidthToCm(echo.widthUs);
}

float getSonar()
{
    return trustedReading(fireAndTimeEcho());
}
