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
// anything longer is treated as no echo, and a reading never takes longer.
constexpr int kEchoTimeoutUs = 13200;

constexpr double kSpeedOfSoundMps = 340.0;
constexpr double kOutAndBack = 2.0;     // the echo times the way there and back
constexpr double kUsMpsPerCm = 10000.0; // 1 µs at 1 m/s is 1/10,000 cm

enum class Poll { UntilLevel, WhileLevel };

// Polls back to back, the pin first and the clock second, until the pin reads
// `level` or for as long as it does. `latestUs` is left at the stamp of the
// last poll that did not end the phase. Returns false as soon as a stamp lies
// past `deadlineUs`.
bool poll(int pin, int level, Poll phase, int64_t deadlineUs, int64_t& latestUs)
{
    while ((digitalRead(pin) == level) == (phase == Poll::WhileLevel)) {
        latestUs = monotonicNowUs();
        if (latestUs > deadlineUs)
            return false;
    }
    return true;
}

void fireTrigger()
{
    digitalWrite(kTriggerPin, HIGH);
    delayMicroseconds(kTriggerPulseUs);
    digitalWrite(kTriggerPin, LOW);
}

} // namespace

int pulseIn(int pin, int level, int timeoutUs)
{
    // The limit counts from the start of the call, not from the edge; a poll
    // stamped exactly at the limit keeps polling.
    const int64_t startUs = monotonicNowUs();
    const int64_t deadlineUs = startUs + timeoutUs;
    int64_t latestUs = startUs;

    if (!poll(pin, level, Poll::UntilLevel, deadlineUs, latestUs))
        return 0;
    const int64_t edgeUs = monotonicNowUs();

    // The pulse ends at the stamp of the last poll that still saw the level.
    // One gone before its first poll here measures 0, never less.
    latestUs = edgeUs;
    if (!poll(pin, level, Poll::WhileLevel, deadlineUs, latestUs))
        return 0;
    return static_cast<int>(latestUs - edgeUs);
}

float echoWidthToCm(int widthUs)
{
    // The width passes through single precision on the way in and the result
    // is narrowed to it on the way out: the printed reading is that of the
    // narrowed value (15 µs reads 0.25 cm, not the 0.26 of the exact 0.255).
    const double width = static_cast<float>(widthUs);
    return static_cast<float>(width * kSpeedOfSoundMps / kOutAndBack / kUsMpsPerCm);
}

float getSonar()
{
    fireTrigger();
    // Timing starts at once: the module raises its echo only after sending
    // its burst, well after the trigger has fallen.
    return echoWidthToCm(pulseIn(kEchoPin, HIGH, kEchoTimeoutUs));
}
