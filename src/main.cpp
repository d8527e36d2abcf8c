// ranging: prints the distance to the nearest object in front of an
// ultrasonic module about once a second, until it is killed.
#include <cstdarg>
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

// Into a pipe, a file or a service's log, output is block-buffered: lines
// would arrive in bursts minutes apart, the banner after whatever the GPIO
// library says on standard error, and the program only ever ends by a
// signal, which would drop whatever is still buffered. So each line is
// flushed as it is written.
void printBanner()
{
    std::puts(kBanner);
    std::fflush(stdout);
}

// printf through vprintf: a hardened build (_FORTIFY_SOURCE) checks vprintf
// whichever compiler builds it, printf only where g++ does, and the board's
// package is built with clang against the board's own root.
__attribute__((format(printf, 1, 2))) void printFormatted(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    std::vprintf(format, arguments);
    va_end(arguments);
}

void printReading(float distanceCm)
{
    printFormatted(kReadingFormat, static_cast<double>(distanceCm));
    std::fflush(stdout);
}

} // namespace

int main()
{
    printBanner();
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
