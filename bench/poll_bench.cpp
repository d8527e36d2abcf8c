// ranging-bench: what one poll of the echo timing costs, against the two
// calls that any poll has to make: a read of the input register and a read of
// the monotonic clock. Its last line is the ratio of the two costs.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <map>
#include <ostream>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include <unistd.h>

#include "gpio_pins.h"
#include "ranging.h"
#include "register_gpio.h"

namespace {

// Google Benchmark 1.8 replaced a run's `error_occurred` flag with `skipped`,
// and wants a unit after --benchmark_min_time, which earlier versions do not
// parse.
template <typename Run, typename = void>
struct SkipsRuns : std::false_type {};
template <typename Run>
struct SkipsRuns<Run, std::void_t<decltype(std::declval<Run>().skipped)>> : std::true_type {};
constexpr bool kSkipsRuns = SkipsRuns<benchmark::BenchmarkReporter::Run>::value;

template <typename Run>
bool failed(const Run& run)
{
    if constexpr (SkipsRuns<Run>::value)
        return run.skipped != 0;
    else
        return run.error_occurred;
}

// A shared machine's speed drifts by more than the tenth we look for, so the
// benchmarks take turns in a random order, many times over, and each cost is
// the least seen: the run that was disturbed least.
const char* const kDefaultFlags[] = {
    "--benchmark_enable_random_interleaving=true",
    "--benchmark_repetitions=100",
    kSkipsRuns ? "--benchmark_min_time=0.03s" : "--benchmark_min_time=0.03",
    "--benchmark_report_aggregates_only=true",
};
const char kCostCounter[] = "per_poll"; // the column that holds the cost of one poll
const char kLeast[] = "least";
const std::string kPinAndClock = "PinAndClockAlone";

benchmark::Counter perPoll(double polls)
{
    return benchmark::Counter(polls, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// Calls of the timing routine that poll until they time out, with the echo
// line held at `level` throughout: LOW keeps it waiting for the echo, HIGH
// keeps it timing the pulse.
void pollWhileEchoIs(benchmark::State& state, int level)
{
    gInputRegister = level == HIGH ? 1u << kEchoPin : 0u;
    gPinReads = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(pulseIn(kEchoPin, HIGH, kEchoTimeoutUs));
    state.counters[kCostCounter] = perPoll(static_cast<double>(gPinReads));
}

void WaitingForTheEcho(benchmark::State& state)
{
    pollWhileEchoIs(state, LOW);
}
void TimingThePulse(benchmark::State& state)
{
    pollWhileEchoIs(state, HIGH);
}

// The floor: one register read and one clock read, nothing else.
void PinAndClockAlone(benchmark::State& state)
{
    timespec now{};
    for (auto _ : state) {
        benchmark::DoNotOptimize((gInputRegister >> kEchoPin) & 1u);
        clock_gettime(CLOCK_MONOTONIC, &now);
        benchmark::DoNotOptimize(now);
    }
    state.counters[kCostCounter] = perPoll(static_cast<double>(state.iterations()));
}

double least(const std::vector<double>& values)
{
    return *std::min_element(values.begin(), values.end());
}

BENCHMARK(WaitingForTheEcho)->ComputeStatistics(kLeast, least);
BENCHMARK(TimingThePulse)->ComputeStatistics(kLeast, least);
BENCHMARK(PinAndClockAlone)->ComputeStatistics(kLeast, least);

// Prints only each benchmark's least cost, and keeps it. Colours only on a
// terminal.
class CostReporter : public benchmark::ConsoleReporter {
public:
    CostReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular) {}

    // The library's own context would add Debian's warning that the library
    // was built without NDEBUG: true of its own code, and nothing to do with
    // what it times. This line heads the results, so it goes where they go.
    bool ReportContext(const Context& context) override
    {
        name_field_width_ = context.name_field_width;
        printed_header_ = false;
        GetOutputStream() << "Run on " << context.cpu_info.num_cpus << " CPUs; each cost is the least of "
                          << "many runs taken in turns\n";
        return true;
    }

    void ReportRuns(const std::vector<Run>& runs) override
    {
        std::vector<Run> least;
        for (const Run& run : runs) {
            const auto cost = run.counters.find(kCostCounter);
            if (failed(run) || run.aggregate_name != kLeast || cost == run.counters.end())
                continue;
            leastNs[run.run_name.function_name] = cost->second.value * 1e9;
            least.push_back(run);
        }
        ConsoleReporter::ReportRuns(least);
    }

    std::map<std::string, double> leastNs;
};

} // namespace

int main(int argc, char** argv)
{
    // The defaults come first, so that flags on the command line override them.
    std::vector<char*> args{argv[0]};
    for (const char* flag : kDefaultFlags)
        args.push_back(const_cast<char*>(flag));
    args.insert(args.end(), argv + 1, argv + argc);
    int count = static_cast<int>(args.size());

    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data()))
        return 1;
    CostReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    const auto& ns = reporter.leastNs;
    if (ns.count(kPinAndClock) == 0 || ns.size() < 2) {
        std::fprintf(stderr, "ranging-bench: the ratio needs %s and a poll benchmark\n", kPinAndClock.c_str());
        return 1;
    }
    double pollNs = 0;
    for (const auto& [name, cost] : ns) {
        if (name != kPinAndClock)
            pollNs = std::max(pollNs, cost);
    }
    std::printf("one poll: %.2f ns; pin and clock alone: %.2f ns\n", pollNs, ns.at(kPinAndClock));
    std::printf("poll overhead ratio: %.3f\n", pollNs / ns.at(kPinAndClock));
    return 0;
}
