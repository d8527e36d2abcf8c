// One distance reading from the ultrasonic module.
#pragma once

// Fires the trigger, times the echo and returns the distance in centimetres;
// 0 when no echo came back in time.
float getSonar();

// Waits for `pin` to read `level`, then returns for how many microseconds it
// kept reading it. Returns 0 when more than `timeoutUs` pass from the call's
// start before that pulse has ended.
int pulseIn(int pin, int level, int timeoutUs);

// Turns an echo's width in microseconds into centimetres to the object.
float echoWidthToCm(int widthUs);
