#include "register_gpio.h"

#include <wiringPi.h>

volatile uint32_t gInputRegister = 0;
uint64_t gPinReads = 0;

int wiringPiSetup(void)
{
    return 0;
}
void pinMode(int, int) {}
void pullUpDnControl(int, int) {}
void digitalWrite(int, int) {}
void delay(unsigned int) {}
void delayMicroseconds(unsigned int) {}

int digitalRead(int pin)
{
    ++gPinReads;
    return (gInputRegister >> pin) & 1u ? HIGH : LOW;
}
