// One distance reading: fire the module's trigger, time its echo, turn the
// echo's width into centimetres.
#include "ranging.h"

#include <cstdint>
#include <optional>

#include "clock.h"
#include "gpio_pins.h"

namespace {

enum class Poll { UntilLevel, WhileLevel };

// The stamps of a polling phase: `latest` is that of the last poll that did
// not end the phase, and `beforeLatest` the one before it, which preceded
// that poll's read.
struct PollStamps {
    int64_t beforeLatest;
    int64_t latest;
    bool echoFits; // two reads lay far enough apart to hide an echo between them
    bool polled;   // the phase's first read did not end it
};

// Polls back to back, the pin first and the clock second, until the pin reads
// `level` or for as long as it does. Returns false as soon as a stamp lies
// past `deadlineUs`.
bool poll(int pin, int level, Poll phase, int64_t deadlineUs, PollStamps& stamps)
{
    while ((digitalRead(pin) == level) == (phase == Poll::WhileLevel)) {
        const int64_t nowUs = monotonicNowUs();
        // This read and the one before it lie between beforeLatest and now.
        stamps.echoFits |= nowUs - stamps.beforeLatest >= kShortestEchoUs;
        stamps.beforeLatest = stamps.latest;
        stamps.latest = nowUs;
        stamps.polled = true;
        if (nowUs > deadlineUs)
            return false;
    }
    return true;
}

// `echoSeenLast`: the last read saw the echo, which ended after it; after
// the poll that timed out, beforeLatest is the stamp before that read.
EchoTiming timedOut(const PollStamps& stamps, int64_t deadlineUs, bool echoSeenLast)
{
    const bool endedEarly = echoSeenLast && deadlineUs - stamps.beforeLatest > kLimitToleranceUs;
    return {0, true, stamps.echoFits || endedEarly, false, 0, 0};
}

// Returns a stamp taken just before the trigger falls: the module may start
// its echo from the fall on. A stamp taken after the fall would leave a
// hold-up between the fall and that stamp out of the account, and an echo
// that came and went in it would pass for no echo at all.
int64_t fireTrigger()
{
    digitalWrite(kTriggerPin, HIGH);
    delayMicroseconds(kTriggerPulseUs);
    const int64_t beforeFallUs = monotonicNowUs();
    digitalWrite(kTriggerPin, LOW);
    return beforeFallUs;
}

} // namespace

EchoTiming timeEcho(int pin, int level, int timeoutUs, std::optional<int64_t> beforeFallUs)
{
    // The limit counts from the start of the call, not from the edge; a poll
    // stamped exactly at the limit keeps polling.
    const int64_t startUs = monotonicNowUs();
    const int64_t deadlineUs = startUs + timeoutUs;

    // What a hold-up could hide counts from the trigger's fall: one between
    // the stamp before the fall and the start stamp hides as much as one
    // between two polls.
    PollStamps wait{beforeFallUs.value_or(startUs), startUs, false, false};
    if (!poll(pin, level, Poll::UntilLevel, deadlineUs, wait))
        return timedOut(wait, deadlineUs, false);
    const int64_t edgeUs = monotonicNowUs();

    // The pulse ends at the stamp of the last poll that still saw the level.
    // One gone before its first poll here measures 0, never less; its last
    // sighting was then the read that ended the wait.
    const bool echoFitsBeforeEdge = edgeUs - wait.beforeLatest >= kShortestEchoUs;
    PollStamps pulse{wait.latest, edgeUs, wait.echoFits || echoFitsBeforeEdge, true};
    if (!poll(pin, level, Poll::WhileLevel, deadlineUs, pulse))
        return timedOut(pulse, deadlineUs, true);
    // One stamp after the read that saw the pulse gone closes its fall.
    const int64_t fallUs = monotonicNowUs();

    // The rise came after the read before the edge's (whose stamp is
    // wait.beforeLatest), the fall after the last read that saw the level.
    const bool highAtFirstRead = !wait.polled;
    const int64_t riseWindowUs = highAtFirstRead ? 0 : edgeUs - wait.beforeLatest;
    return {static_cast<int>(pulse.latest - edgeUs),
            false,
            false,
            highAtFirstRead,
            riseWindowUs,
            fallUs - pulse.beforeLatest};
}

int pulseIn(int pin, int level, int timeoutUs)
{
    return timeEcho(pin, level, timeoutUs, std::nullopt).widthUs;
}

bool isTrusted(const EchoTiming& timing)
{
    if (timing.timedOut)
        return !timing.echoMayBeHidden;
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
    const int64_t beforeFallUs = fireTrigger();
    // Timing starts at once: the module raises its echo only after sending
    // its burst, well after the trigger has fallen.
    return timeEcho(kEchoPin, HIGH, kEchoTimeoutUs, beforeFallUs);
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
