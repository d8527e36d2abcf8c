// Where the ranging module sits on the board's GPIO header, in the GPIO
// library's own pin numbering, and how those pins are set up.
#pragma once

#include <wiringPi.h>

constexpr int kSparePin = 0;   // an input held up by its pull-up; never read
constexpr int kTriggerPin = 4; // drives the module's trigger input
constexpr int kEchoPin = 5;    // reads the module's echo output

// The one result of wiringPiSetup that means the library could not start.
constexpr int kSetupFailed = -1;

// Puts the three pins into their modes. No level is written to the trigger
// here: its first change is the trigger pulse of the first reading.
inline void configurePins()
{
    pinMode(kSparePin, INPUT);
    pullUpDnControl(kSparePin, PUD_UP);
    pinMode(kTriggerPin, OUTPUT);
    pinMode(kEchoPin, INPUT);
}
