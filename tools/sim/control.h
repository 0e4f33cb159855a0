#pragma once
// The simulator's control commands, one per line, from stdin or a FIFO.

#include <mutex>
#include <string>

#include "sim/analyzer.h"
#include "sim/line.h"

namespace sim {

struct Controls {
  Analyzer* analyzer = nullptr;
  LineFaults* faults = nullptr;
  std::mutex* faultsMutex = nullptr;
  bool quit = false;
  bool hangup = false;  // the owner closes the line
  bool tcp = false;     // the line is a TCP connection (--tcp)
  bool drop = false;    // the owner closes the TCP connection and listens on
};

// Carries out one command line. Returns "OK <line>", "STATUS ...", or
// "ERROR <why>"; an empty line gives "".
std::string runCommand(const std::string& line, Controls& c);

// The command summary printed by --help.
const char* commandHelp();

}  // namespace sim
