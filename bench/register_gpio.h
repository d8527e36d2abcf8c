// The GPIO library's calls over a memory word, as the real library reads a
// memory-mapped input register: the cheapest a pin read can be.
#pragma once

#include <cstdint>

// The input register: bit N is the level of pin N.
extern volatile uint32_t gInputRegister;

// How many times digitalRead has been called.
extern uint64_t gPinReads;
