// Signals a child process the tests started. QProcess reports pid 0 once the
// child has ended, and kill(0, ...) would signal the whole process group: the
// test runner and whatever started it.
#pragma once

#include <csignal>
#include <sys/types.h>

inline bool signalProcess(long long pid, int number) { return pid > 0 && ::kill(pid_t(pid), number) == 0; }
