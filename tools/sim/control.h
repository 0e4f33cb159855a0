#pragma once
// The simulator's control commands, one per line, from stdin or a FIFO.

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "sim/analyzer.h"
#include "sim/line.h"

namespace sim {

// What one analyzer did on the line.
struct StationCounts {
  std::atomic<long> requests{0};  // requests to its address it took (broadcasts too)
  std::atomic<long> replies{0};   // replies it put on the line
};

// What went on the line as a whole.
struct LineCounts {
  long requests = 0;       // request frames from the program, to any address
  long gapViolations = 0;  // of them, those less than 3.5 characters after a reply
};

// One analyzer on the line, as the commands reach it.
struct Station {
  int address = 1;
  Analyzer* analyzer = nullptr;
  LineFaults* faults = nullptr;  // the faults of its replies alone ("@N crc 1")
  const StationCounts* counts = nullptr;
};

struct Controls {
  std::vector<Station> stations;
  LineFaults* faults = nullptr;  // the faults of the whole line
  std::mutex* faultsMutex = nullptr;  // over every LineFaults
  const LineCounts* line = nullptr;
  bool several = false;  // --analyzers: status and events per address
  bool quit = false;
  bool hangup = false;  // the owner closes the line
  bool tcp = false;     // the line is a TCP connection (--tcp)
  bool drop = false;    // the owner closes the TCP connection and listens on
};

// Carries out one command line. "@N " before a command gives it to the
// analyzer at address N alone (its line faults hit its replies only); without
// it a command goes to every analyzer, a line fault to the whole line.
// Returns "OK <line>", "STATUS ...", or "ERROR <why>"; an empty line gives "".
std::string runCommand(const std::string& line, Controls& c);

// The command summary printed by --help.
const char* commandHelp();

}  // namespace sim
