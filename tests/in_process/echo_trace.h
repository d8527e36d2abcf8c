// Arbitrary echo traces for the timing routine, made from bytes, and the rules
// the routine keeps whatever the trace. The property test draws its bytes from
// a seeded generator; the fuzzer gets them from libFuzzer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "board.h"

struct EchoTrace {
    struct Span {
        int64_t riseNs; // from the start of the call; negative: already HIGH
        int64_t fallNs;
    };
    struct Stall {
        int64_t atNs; // from the start of the call
        int64_t forNs;
    };
    sim::Costs costs;
    std::vector<Span> high; // when the echo line is HIGH: pulses, glitches, bounces
    std::vector<Stall> stalls;
};

// Any bytes make a trace; missing bytes read as zero, and bytes past the 31st
// are not read.
EchoTrace traceFromBytes(const uint8_t* data, size_t size);

struct PulseInCheck {
    std::string broken; // the first rule the timing routine broke, if any
    enum class Ending { PulseEnded, TimedOutWaiting, TimedOutTiming } ending;
    bool highAtStart; // its first read found the line already HIGH
    int widthUs;
    bool trustedWidth; // a pulse timed, and trusted
    bool trustedTimeout;
};

// Times the trace's echo on a fresh board and checks the rules, among them
// that a trusted reading lies within its own bound of the echo's true width,
// and that a trusted time-out hid no echo that ended in time.
PulseInCheck checkPulseIn(const EchoTrace& trace);
