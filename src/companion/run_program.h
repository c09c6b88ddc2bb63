#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

namespace mvx {

struct ProgramResult {
  bool started = false;   // false: the program could not be run at all
  bool finished = false;  // false: killed at the time limit or on a stop request
  int exitCode = -1;      // with `finished`; 128 + the signal when one ended it
  std::string output;     // standard output, cut at the size limit
  std::string errors;     // standard error, cut at the size limit
};

// Runs the program (looked up on PATH when the name holds no '/') with the
// arguments, no shell in between, standard input empty. Waits at most `limit`
// and ends early on a stop request; a program still running then is killed.
ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         std::chrono::milliseconds limit, const std::atomic<bool>& stopRequested,
                         std::size_t outputLimit = 64 * 1024);

// Whether RunProgram would find an executable of that name.
bool ProgramAvailable(const std::string& program);

}  // namespace mvx
