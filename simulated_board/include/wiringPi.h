/* The GPIO library's calls that the program makes, answered by the simulated
 * board. Values and signatures are those of the real library. */
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

#define LOW 0
#define HIGH 1

#define INPUT 0
#define OUTPUT 1

#define PUD_OFF 0
#define PUD_DOWN 1
#define PUD_UP 2

int wiringPiSetup(void);
void pinMode(int pin, int mode);
void pullUpDnControl(int pin, int pud);
void digitalWrite(int pin, int value);
int digitalRead(int pin);
void delay(unsigned int howLongMs);
void delayMicroseconds(unsigned int howLongUs);
int piHiPri(const int pri);

#ifdef __cplusplus
}
#endif
