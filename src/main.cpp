// ranging: prints the distance to the nearest object in front of an
// ultrasonic module about once a second, until it is killed.
#include <cstdio>

#include "gpio_pins.h"
#include "ranging.h"
#include "realtime.h"

namespace {

constexpr char kBanner[] = "Program is starting ... ";
constexpr char kSetupFailedMessage[] = "setup wiringPi failed !";
constexpr char kReadingFormat[] = "The distance is : %.2f cm\n";
constexpr char kNoPriorityMessage[] =
    "ranging: no real-time priority granted; timing at normal priority, so a busy board loses readings\n";

constexpr int kExitSetupFailed = 1;
constexpr unsigned kMeasurementPeriodMs = 1000; // the pause after each reading

void printReading(float distanceCm)
{
    std::printf(kReadingFormat, static_cast<double>(distanceCm));
    // Into a pipe, a file or a service's log, output is block-buffered: lines
    // would arrive in bursts minutes apart, and the program only ever ends by
    // a signal, which would drop whatever is still buffered.
    std::fflush(stdout);
}

} // namespace

int main()
{
    std::puts(kBanner);
    if (wiringPiSetup() == kSetupFailed) {
        std::fputs(kSetupFailedMessage, stdout);
        return kExitSetupFailed;
    }
    configurePins();
    if (!keepTimingUndisturbed())
        std::fputs(kNoPriorityMessage, stderr);

    for (;;) {
        printReading(getSonar());
        delay(kMeasurementPeriodMs);
    }
}
