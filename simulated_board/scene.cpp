#include "scene.h"

#include "ranging.h" // the speed of sound the program assumes, which the scene's world keeps

namespace sim {

namespace {

constexpr double kNearCm = 5.0;
constexpr double kFarCm = 200.0;                      // within the 224.4 cm the program reports
constexpr int64_t kOneWayNs = 20 * (1000 * kNsPerMs); // near to far, or back
constexpr double kNoiseCm = 0.3;                      // either way

// xorshift32: a fixed, cheap sequence, so that every run looks the same.
double nextNoise(uint32_t& state)
{
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return (state / 4294967295.0 * 2 - 1) * kNoiseCm;
}

} // namespace

Echo sceneEcho(int64_t sinceStartNs, uint32_t& noise)
{
    const int64_t phaseNs = sinceStartNs % (2 * kOneWayNs);
    const int64_t outNs = phaseNs < kOneWayNs ? phaseNs : 2 * kOneWayNs - phaseNs;
    const double cm =
        kNearCm + (kFarCm - kNearCm) * static_cast<double>(outNs) / static_cast<double>(kOneWayNs) + nextNoise(noise);
    return Echo::highFor(static_cast<int64_t>(cm / kCmPerEchoUs * kNsPerUs));
}

} // namespace sim
