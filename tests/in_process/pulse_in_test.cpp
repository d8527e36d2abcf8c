// Timing the echo: widths, the time-out, stalls, and what the stamps say of
// each reading's error.
#include <optional>

#include "gpio_pins.h"
#include "on_board.h"
#include "ranging.h"

namespace {

constexpr int kTimeoutUs = 13200;
constexpr int64_t kUs = sim::kNsPerUs;
constexpr int64_t kNever = 1000000 * kUs;

struct Stall {
    int64_t atNs;
    int64_t forNs;
};

struct PulseCase {
    const char* name;
    std::optional<int64_t> riseNs; // from the start of the call; none: no echo
    int64_t fallNs;
    std::optional<Stall> stall;
    int widthUs;
    int lastStampUs;  // from the start stamp: when the call gave its answer
    int riseWindowUs; // kUnbounded: the echo was already there
    int fallWindowUs;
    bool trusted;
};

constexpr int kUnbounded = -1;
constexpr bool kTrusted = true;
constexpr bool kUntrusted = false;

// Time-outs have no windows: only a hold-up between two polls makes one
// untrusted.
// clang-format off
const PulseCase kPulseCases[] = {
    {"MeasuresAnEchoOnePollShortOfItsLength", 100 * kUs, 1100 * kUs, {}, 999, 1101, 2, 2, kTrusted},
    {"TimesAnEchoAlreadyHighFromTheFirstRead", -5 * kUs, 500 * kUs, {}, 499, 501, kUnbounded, 2, kUntrusted},
    {"KeepsPollingWhenTheSpanIsExactlyTheTimeout", 0, 13200 * kUs, {}, 13199, 13201, kUnbounded, 2, kUntrusted},
    {"TimesOutWhenTheSpanIsOneMicrosecondOver", 0, 13201 * kUs, {}, 0, 13201, 0, 0, kTrusted},
    {"CountsTheTimeoutFromTheStartNotTheEdge", 13000 * kUs, 13300 * kUs, {}, 0, 13201, 0, 0, kTrusted},
    {"TimesOutWhenNoEchoRises", {}, 0, {}, 0, 13201, 0, 0, kTrusted},
    {"TimesOutWhenTheEchoIsStuckHigh", 50 * kUs, kNever, {}, 0, 13201, 0, 0, kTrusted},
    {"MeasuresZeroForAPulseGoneBeforeItsFirstTimedPoll", 99500, 100500, {}, 0, 101, 2, 2, kTrusted},
    {"MeasuresZeroForAnEchoGoneRightAfterTheFirstRead", -1 * kUs, 1500, {}, 0, 2, kUnbounded, 2, kUntrusted},
    {"TimesOutOnAStallWhileTheEchoIsHigh", 100 * kUs, 1100 * kUs, Stall{500 * kUs, 3000000 * kUs}, 0, 3000500, 0, 0,
     kUntrusted},
    {"TimesOutOnAStallBeforeTheEchoRises", 100 * kUs, 1100 * kUs, Stall{50 * kUs, 2000000 * kUs}, 0, 2000050, 0, 0,
     kUntrusted},
    {"MeasuresThroughAStallThatStaysWithinTheTimeout", 100 * kUs, 1100 * kUs, Stall{500 * kUs, 100 * kUs}, 999, 1101,
     2, 2, kTrusted},
    {"MeasuresThroughAStallThatEndsBeforeTheEchoRises", 100 * kUs, 1100 * kUs, Stall{20 * kUs, 50 * kUs}, 999, 1101,
     2, 2, kTrusted},
    // A stall that the echo's rise or fall falls into is seen as an edge at
    // the end of the stall, or as the pulse ending where it began; the
    // window around that edge shows it.
    {"ShortensByTheOverlapOfAStallAcrossTheRise", 100 * kUs, 1100 * kUs, Stall{50 * kUs, 500 * kUs}, 549, 1101, 502,
     2, kUntrusted},
    {"ShortensByWhatFollowsAStallAcrossTheFall", 100 * kUs, 1100 * kUs, Stall{999 * kUs + 999, 500 * kUs}, 898, 1500,
     2, 502, kUntrusted},
    // Between the last read that sees the echo and its stamp, a stall counts
    // as echo: long by the whole stall, and as wide a window on the fall.
    {"LengthensByAStallBetweenTheLastReadAndItsStamp", 100 * kUs, 1100 * kUs, Stall{1100 * kUs, 3000 * kUs}, 3999,
     4101, 2, 3002, kUntrusted},
};
// clang-format on

class PulseIn : public OnBoard, public ::testing::WithParamInterface<PulseCase> {};

TEST_P(PulseIn, ReturnsTheWidthAtTheRightPollAndKnowsItsWindows)
{
    const PulseCase& c = GetParam();
    wiringPiSetup();
    pinMode(kEchoPin, INPUT);
    const int64_t startNs = board.nowNs();
    if (c.riseNs)
        board.driveEcho(startNs + *c.riseNs, startNs + c.fallNs);
    if (c.stall)
        board.stallAt(startNs + c.stall->atNs, c.stall->forNs);

    const EchoTiming t = timeEcho(kEchoPin, HIGH, kTimeoutUs, std::nullopt);
    EXPECT_EQ(t.widthUs, c.widthUs);

    std::string lastStamp;
    for (const std::string& call : board.calls()) {
        if (call.rfind("clock()", 0) == 0)
            lastStamp = call;
    }
    EXPECT_EQ(lastStamp, stamp(startNs / kUs + c.lastStampUs));
    EXPECT_EQ(t.highAtFirstRead ? kUnbounded : t.riseWindowUs, c.riseWindowUs);
    EXPECT_EQ(t.fallWindowUs, c.fallWindowUs);
    EXPECT_EQ(isTrusted(t), c.trusted);
}

INSTANTIATE_TEST_SUITE_P(Echoes, PulseIn, ::testing::ValuesIn(kPulseCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(OnBoard, PulseInReadsThePinFirstAndTheClockSecondAndStampsOnceAfterTheFall)
{
    wiringPiSetup();
    pinMode(kEchoPin, INPUT);
    const int64_t s = board.nowNs() / kUs;
    board.driveEcho(board.nowNs() + 2 * kUs, board.nowNs() + 5 * kUs);

    EXPECT_EQ(pulseIn(kEchoPin, HIGH, kTimeoutUs), 2);

    // clang-format off
    const std::vector<std::string> expected = {
        "wiringPiSetup() -> 0", "pinMode(5, 0)",
        stamp(s),                                     // start
        "digitalRead(5) -> 0", stamp(s + 1),          // waiting
        "digitalRead(5) -> 0", stamp(s + 2),
        "digitalRead(5) -> 1", stamp(s + 3),          // edge
        "digitalRead(5) -> 1", stamp(s + 4),
        "digitalRead(5) -> 1", stamp(s + 5),          // last poll that saw it
        "digitalRead(5) -> 0", stamp(s + 6),          // the fall's window closes
    };
    // clang-format on
    EXPECT_EQ(board.calls(), expected);
}

} // namespace
