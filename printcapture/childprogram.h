// Runs a helper program (lpadmin, pkexec, xpstopdf, ps2pdf) to its end within a time limit.
#pragma once

#include <chrono>
#include <string>
#include <vector>

struct ProgramResult {
  bool started = false;    // false when the program could not be started at all
  int startError = 0;      // errno of a failed start
  int exitCode = -1;       // exit status, or 128 + signal number
  bool timedOut = false;   // killed at the time limit
  bool cancelled = false;  // killed because the caller asked it to stop
  std::string errorText;   // the start of what it wrote (standard output and error)

  bool Succeeded() const { return started && !timedOut && !cancelled && exitCode == 0; }
  // One line for the log: why the program did not succeed.
  std::string Cause() const;
};

// Runs argv[0] (looked up on PATH) with standard input from /dev/null. The program and every
// process it starts (its process group) are killed when `limit` passes, or at once when
// `cancelHandle` (a descriptor, -1 for none) becomes readable.
ProgramResult RunProgram(const std::vector<std::string>& argv, std::chrono::milliseconds limit,
                         int cancelHandle = -1);
