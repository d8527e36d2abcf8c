// What the program asks of the system so that nothing lands inside the
// timing of an echo: another process taking the processor, or a page fault.
#pragma once

// Asks for a real-time priority and keeps the program's memory in RAM.
// Returns false when the priority is refused: the program then times at
// normal priority, as it would without asking.
bool keepTimingUndisturbed();
