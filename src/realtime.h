// What the program asks of the system so that nothing lands inside the
// timing of an echo: another process taking the processor, or a page fault.
#pragma once

// Any real-time priority runs ahead of every ordinary process, so that the
// poll keeps the processor from the first read to the last. 40 stays below
// the kernel's threaded interrupt handlers (50 on a stock kernel), whose work
// is short: a reading never keeps an interrupt waiting. The poll holds the
// processor for at most one time-out, 13.2 ms, per attempt, and sleeps
// between attempts and readings; the kernel's real-time throttling leaves
// the rest of the system its share of every second in any case.
constexpr int kTimingPriority = 40;

// Asks for a real-time priority and keeps the program's memory in RAM.
// Returns false when the priority is refused: the program then times at
// normal priority, as it would without asking.
bool keepTimingUndisturbed();
