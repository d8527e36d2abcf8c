// One distance reading from the ultrasonic module.
#pragma once

#include <cstdint>
#include <optional>

// What a reading is timed and judged by. The tests and the tools that judge
// the program's readings take these from here.

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
// half centimetre by which a reading counts as wrong.
constexpr int kTrustedErrorUs = 29;

// A hold-up can hide a whole echo only when it is longer than the echo.
// Module makers give 2 cm as the shortest range: an echo of 117 µs. Two
// reads lie less than a microsecond (the clock's step) further apart than
// the stamp before the first and the stamp after the second; so when those
// stamps lie under 117 µs apart, no echo that short or longer fits between
// the reads unseen. A time-out is retried only when two such stamps, or the
// stamp before the trigger's fall and the one after the first read, lie
// 117 µs or more apart.
constexpr int kShortestEchoUs = 117;
// A time-out that comes while the echo is high is trusted only when the last
// read that saw it came within this of the limit: the echo cannot then have
// ended earlier than a trusted reading's error short of the farthest reading.
constexpr int kLimitToleranceUs = kTrustedErrorUs;

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
// What one microsecond of echo reads as: 0.017 cm.
constexpr double kCmPerEchoUs = kSpeedOfSoundMps / kOutAndBack / kUsMpsPerCm;

// Fires the trigger, times the echo and returns the distance in centimetres;
// 0 when no echo came back in time, or when no attempt could be trusted.
float getSonar();

// Waits for `pin` to read `level`, then returns for how many microseconds it
// kept reading it. Returns 0 when more than `timeoutUs` pass from the call's
// start before that pulse has ended.
int pulseIn(int pin, int level, int timeoutUs);

// One timing of a pulse, as pulseIn takes it, with what its own stamps say
// about how far the width can be from the pulse's true width.
struct EchoTiming {
    int widthUs;   // what pulseIn returns
    bool timedOut; // more than the time-out passed first; the width is 0
    // Timed out, yet a hold-up left room for an echo of at least the shortest
    // the module gives to end within the time-out unseen, or for the echo
    // seen to end well before the limit.
    bool echoMayBeHidden;
    bool highAtFirstRead; // the pulse was already there: its rise is unbounded
    // The rise lay within riseWindowUs before the edge stamp, the fall within
    // fallWindowUs before the stamp after it. Together, plus the clock's
    // one-microsecond step, they bound the width's error.
    int64_t riseWindowUs;
    int64_t fallWindowUs;
};

// pulseIn's timing. `beforeFallUs`, the stamp taken just before the trigger
// fell, starts the account of what a hold-up could hide; without it the account
// starts with the call.
EchoTiming timeEcho(int pin, int level, int timeoutUs, std::optional<int64_t> beforeFallUs);

// Whether a timing can be printed as a reading: a pulse with tight windows on
// both edges, or a time-out that no hold-up can explain.
bool isTrusted(const EchoTiming& timing);

// One attempt: fires the trigger and times the module's echo.
EchoTiming fireAndTimeEcho();

// The reading that a first attempt leads to: its own distance when it can be
// trusted, otherwise that of a later attempt that can, or 0 when none of
// three can. getSonar is trustedReading(fireAndTimeEcho()).
float trustedReading(const EchoTiming& firstAttempt);

// Turns an echo's width in microseconds into centimetres to the object.
float echoWidthToCm(int widthUs);
