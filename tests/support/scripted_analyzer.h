#pragma once
// An analyzer in a few lines, for tests that run long courses tick by tick:
// it answers each request frame as the real one does (status replies and
// command echoes) and walks through zero setting, measuring and purging by
// itself, one step per answered request.

#include <cstdint>
#include <vector>

#include "support/analyzer_replies.h"

class ScriptedAnalyzer {
 public:
  struct Durations {
    int zeroSetting = 5;  // ticks in state 1
    int measuring = 10;   // ticks in state 2 of a single measurement
    int purging = 3;      // ticks in state 3
  };

  explicit ScriptedAnalyzer(uint8_t address = 1) : address_(address) {}

  Durations durations;
  StatusRegisters registers;  // the readings it reports (state is its own)

  // The reply to `request`; an empty frame for anything it does not answer.
  Frame answer(const std::vector<uint8_t>& request);
  uint8_t state() const { return state_; }

 private:
  void step();

  uint8_t address_;
  uint8_t state_ = 0;
  bool continuous_ = false;
  int ticks_ = 0;
};
