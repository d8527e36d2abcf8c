// ranging-sim started as a process: its settings, where its output goes, and
// how it ended.
#pragma once

#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

using Env = std::vector<std::pair<const char*, const char*>>;

struct SimProcess {
    pid_t pid;
    int out; // the read end of its standard output; -1 when sent elsewhere
    int err; // the read end of its standard error
};

// Starts ranging-sim with exactly the given settings. Its standard output goes
// to `stdoutFd` when one is given, into a pipe otherwise.
SimProcess startSim(const Env& env, int stdoutFd = -1);

// Reads to the end, then closes.
std::string readAll(int fd);

// Waits for it to end: its exit status, or minus the signal that ended it.
int waitForEnding(pid_t pid);

// The banner and one line per reading, as the program prints them.
std::string lines(const std::vector<const char*>& readings);

// A list of `count` readings of `widthUs` each, for SIM_ECHOES.
std::string echoes(int count, int widthUs);
