// One distance reading from the ultrasonic module.
#pragma once

#include <cstdint>
#include <optional>

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
    int widthUs;     // what pulseIn returns
    bool timedOut;   // more than the time-out passed first; the width is 0
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
