#include "echo_trace.h"

#include <algorithm>
#include <cstdlib>

#include "clock.h"
#include "gpio_pins.h"
#include "ranging.h"

namespace {

// What the program trusts (ranging.h): a reading's windows together within
// kTrustedErrorUs; a time-out that hides no echo of kShortestEchoUs or longer
// that ended within it, and where one was seen while timing, one that ended
// no earlier than kLimitToleranceUs before the limit.
constexpr int64_t kNs = 1;
constexpr int64_t kUs = sim::kNsPerUs;
constexpr int64_t kNeverNs = int64_t{1} << 50; // a stuck line, for any run

class Bytes {
public:
    Bytes(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    unsigned next() { return at_ < size_ ? data_[at_++] : 0u; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

// A time from one byte, over a wide range: from `unit` to about 60,000 units,
// closely spaced at the short end.
int64_t spread(unsigned byte, int64_t unit)
{
    return (unit * (8 + (byte & 7u)) << (byte >> 4)) / 8;
}

// 16 µs to 240 µs: around the tolerance at the limit and the shortest echo.
int64_t nearLimitSpread(unsigned byte)
{
    return spread((byte & 0x3Fu) | 0x40u, kUs);
}

int64_t readCostNs(unsigned byte)
{
    return 100 + 25 * static_cast<int64_t>(byte);
}

enum class SpanKind { Glitch, Echo, Bounce, Stuck };

} // namespace

EchoTrace traceFromBytes(const uint8_t* data, size_t size)
{
    Bytes bytes(data, size);
    EchoTrace trace;
    // A tenth of a microsecond to a few microseconds for each read: from
    // well under the shortest glitch to well over it.
    trace.costs = {readCostNs(bytes.next()), readCostNs(bytes.next())};

    const unsigned shape = bytes.next();
    const unsigned spans = shape & 7u;
    const unsigned stalls = (shape >> 3) & 3u;
    // Where a hold-up decides whether a time-out is trusted: across the fall
    // of an echo that ends near the limit. The first span is then such an
    // echo, and the first stall begins shortly before its fall.
    const bool nearLimit = ((shape >> 5) & 3u) == 3u;

    // The line may already be HIGH when the call starts.
    int64_t cursorNs = -spread(bytes.next(), kUs);
    for (unsigned i = 0; i < spans; ++i) {
        const bool echoNearLimit = i == 0 && nearLimit;
        const auto kind = echoNearLimit ? SpanKind::Echo : static_cast<SpanKind>(bytes.next() % 4);
        const int64_t unit = kind == SpanKind::Glitch ? kNs : kind == SpanKind::Bounce ? 10 * kNs : kUs;
        const int64_t riseNs = cursorNs + spread(bytes.next(), kind == SpanKind::Glitch ? 100 * kNs : unit);
        if (kind == SpanKind::Stuck) {
            trace.high.push_back({riseNs, kNeverNs});
            break;
        }
        cursorNs = echoNearLimit ? std::max(riseNs, kEchoTimeoutUs * kUs - nearLimitSpread(bytes.next()))
                                 : riseNs + spread(bytes.next(), unit);
        trace.high.push_back({riseNs, cursorNs});
    }
    const bool stallNearLimit = nearLimit && !trace.high.empty();
    for (unsigned i = 0; i < stalls; ++i) {
        if (i == 0 && stallNearLimit) {
            const int64_t atNs = trace.high.front().fallNs - spread(bytes.next(), 100 * kNs);
            trace.stalls.push_back({atNs, nearLimitSpread(bytes.next())});
            continue;
        }
        const int64_t atNs = spread(bytes.next(), kUs);
        trace.stalls.push_back({atNs, spread(bytes.next(), kUs)});
    }
    return trace;
}

namespace {

using PollEvent = sim::Board::PollEvent;
using Span = EchoTrace::Span;

// Follows the timing routine's reads as they happen. First comes the stamp
// that stands in for the trigger's fall, taken before the call. After the
// start stamp come a pin read and its stamp, poll after poll; the stamp after
// the first HIGH read marks the edge, and the one after the read that finds
// the pulse gone closes its fall: neither is a poll's. Keeps the first rule
// broken.
class PollRules {
public:
    // `high`: when the line is HIGH, on the board's clock.
    explicit PollRules(std::vector<Span> high) : high_(std::move(high)), seen_(high_.size(), false) {}

    void operator()(const PollEvent& event)
    {
        if (!broken_.empty())
            return;
        const bool read = event.kind == PollEvent::Kind::PinRead;
        if (!fellSeen_) {
            fellSeen_ = true;
            fellAtNs_ = event.atNs;
            return;
        }
        if (!started_) {
            if (read)
                broken_ = "the call did not start by reading the clock";
            started_ = true;
            startUs_ = lastStampUs_ = event.value;
            lastWasRead_ = false;
            return;
        }
        if (answered_)
            broken_ = timedOut_ ? "polled on after a stamp past the time-out" : "polled on after the fall's stamp";
        else if (read == lastWasRead_)
            broken_ = read ? "two pin reads in a row" : "two clock reads in a row";
        else if (read)
            onRead(event.value == HIGH, event.atNs);
        else if (!edgeSeen_ && lastReadHigh_)
            edgeSeen_ = true;
        else if (edgeSeen_ && !lastReadHigh_)
            answered_ = true;
        else
            answered_ = timedOut_ = event.value > startUs_ + kEchoTimeoutUs;
        if (!read)
            lastStampUs_ = event.value;
        lastWasRead_ = read;
    }

    // Once the call has returned `timing`.
    std::string verdict(const EchoTiming& timing) const
    {
        if (!broken_.empty())
            return broken_;
        const int widthUs = timing.widthUs;
        if (widthUs < 0 || widthUs > kEchoTimeoutUs)
            return "width " + std::to_string(widthUs) + " us, outside 0 to " + std::to_string(kEchoTimeoutUs);
        if (!answered_)
            return "returned before the pulse ended or the time-out passed";
        if (timedOut_ != timing.timedOut)
            return timedOut_ ? "timed out but did not say so" : "said it timed out after the pulse ended";
        if (timedOut_) {
            if (widthUs != 0)
                return "timed out with a width of " + std::to_string(widthUs) + " us";
            return isTrusted(timing) ? trustedTimeoutVerdict() : "";
        }
        if (widthUs > lastStampUs_ - startUs_)
            return "width " + std::to_string(widthUs) + " us, longer than the call";
        // A trusted width lies within its own windows, plus the clock's
        // one-microsecond step, of the echo that polling saw (from the rise
        // of the span its first HIGH read fell in to the fall of the span its
        // last one did), and so within what the program trusts.
        if (isTrusted(timing)) {
            const int64_t trueNs = spanAt(lastHighNs_).fallNs - spanAt(firstHighNs_).riseNs;
            const int64_t errorNs = std::abs(widthUs * kUs - trueNs);
            const int64_t boundNs = (timing.riseWindowUs + timing.fallWindowUs + 1) * kUs;
            if (errorNs > std::min(boundNs, (kTrustedErrorUs + 1) * kUs))
                return "trusted width " + std::to_string(widthUs) + " us is " + std::to_string(errorNs) +
                       " ns off the echo's true width; its own bound is " + std::to_string(boundNs) + " ns";
        }
        return "";
    }

    PulseInCheck::Ending ending() const
    {
        using Ending = PulseInCheck::Ending;
        return !timedOut_ ? Ending::PulseEnded : edgeSeen_ ? Ending::TimedOutTiming : Ending::TimedOutWaiting;
    }
    bool highAtStart() const { return highAtStart_; }

private:
    // No echo of at least the shortest length that rose after the trigger's
    // fall and fell within the time-out (its fall stamped no later than the
    // limit) went unseen; and an echo seen at the last read did not end well
    // before the limit.
    std::string trustedTimeoutVerdict() const
    {
        const int64_t limitUs = startUs_ + kEchoTimeoutUs;
        for (size_t i = 0; i < high_.size(); ++i) {
            const Span& span = high_[i];
            if (!seen_[i] && span.riseNs >= fellAtNs_ && span.fallNs - span.riseNs >= kShortestEchoUs * kUs &&
                span.fallNs < (limitUs + 1) * kUs)
                return "trusted a time-out that hid an echo of " + std::to_string(span.fallNs - span.riseNs) + " ns, " +
                       std::to_string(span.fallNs - limitUs * kUs) + " ns from the limit";
        }
        const int64_t lastFallNs = spanAt(lastHighNs_).fallNs;
        if (edgeSeen_ && lastFallNs <= (limitUs - kLimitToleranceUs) * kUs)
            return "trusted a time-out though the echo seen last ended " + std::to_string(limitUs * kUs - lastFallNs) +
                   " ns before the limit";
        return "";
    }

    void onRead(bool high, int64_t atNs)
    {
        // The spans follow one another, and reads come later and later: the
        // span a read can fall in is never one before the last read's.
        while (nextSpan_ < high_.size() && high_[nextSpan_].fallNs <= atNs)
            ++nextSpan_;
        if (nextSpan_ < high_.size() && high_[nextSpan_].riseNs <= atNs)
            seen_[nextSpan_] = true;
        lastReadHigh_ = high;
        if (reads_++ == 0)
            highAtStart_ = high;
        if (high) {
            if (!edgeSeen_)
                firstHighNs_ = atNs;
            lastHighNs_ = atNs;
        }
    }

    Span spanAt(int64_t atNs) const
    {
        for (const Span& span : high_) {
            if (span.riseNs <= atNs && atNs < span.fallNs)
                return span;
        }
        return {atNs, atNs};
    }

    std::vector<Span> high_;
    std::vector<bool> seen_; // by a read, span by span
    size_t nextSpan_ = 0;    // the first span that has not ended before the last read
    bool fellSeen_ = false;
    int64_t fellAtNs_ = 0;
    bool started_ = false;
    int64_t startUs_ = 0;
    int64_t lastStampUs_ = 0;
    bool lastWasRead_ = false;
    bool lastReadHigh_ = false;
    bool edgeSeen_ = false;
    bool answered_ = false;
    bool timedOut_ = false;
    int reads_ = 0;
    bool highAtStart_ = false;
    int64_t firstHighNs_ = 0;
    int64_t lastHighNs_ = 0;
    std::string broken_;
};

} // namespace

PulseInCheck checkPulseIn(const EchoTrace& trace)
{
    sim::resetBoard();
    sim::Board& board = sim::board();
    board.setCosts(trace.costs);
    wiringPiSetup();
    pinMode(kEchoPin, INPUT);
    const int64_t startNs = board.nowNs();
    std::vector<Span> high;
    for (const Span& span : trace.high) {
        high.push_back({startNs + span.riseNs, span.fallNs == kNeverNs ? kNeverNs : startNs + span.fallNs});
        board.driveEcho(high.back().riseNs, high.back().fallNs);
    }
    for (const EchoTrace::Stall& stall : trace.stalls)
        board.stallAt(startNs + stall.atNs, stall.forNs);
    PollRules rules(std::move(high));
    board.watchPolls([&rules](const PollEvent& event) { rules(event); });

    // A stamp before the call stands in for the trigger's fall; a stall may
    // come between them.
    const EchoTiming timing = timeEcho(kEchoPin, HIGH, kEchoTimeoutUs, monotonicNowUs());
    board.watchPolls(nullptr);
    return {rules.verdict(timing),
            rules.ending(),
            rules.highAtStart(),
            timing.widthUs,
            isTrusted(timing) && !timing.timedOut,
            isTrusted(timing) && timing.timedOut};
}
