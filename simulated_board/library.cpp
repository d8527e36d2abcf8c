// The GPIO library's calls and the clock read, answered by the simulated board.
#include <wiringPi.h>

#include "board.h"
#include "clock.h"

int wiringPiSetup(void)
{
    return sim::board().setup();
}
void pinMode(int pin, int mode)
{
    sim::board().pinMode(pin, mode);
}
void pullUpDnControl(int pin, int pud)
{
    sim::board().pullUpDnControl(pin, pud);
}
void digitalWrite(int pin, int value)
{
    sim::board().digitalWrite(pin, value);
}
int digitalRead(int pin)
{
    return sim::board().digitalRead(pin);
}
void delay(unsigned int howLongMs)
{
    sim::board().delayMs(howLongMs);
}
void delayMicroseconds(unsigned int howLongUs)
{
    sim::board().delayUs(howLongUs);
}
int piHiPri(const int pri)
{
    return sim::board().piHiPri(pri);
}

int64_t monotonicNowUs()
{
    return sim::board().readClockUs();
}
