#include "support/scripted_analyzer.h"

Frame ScriptedAnalyzer::answer(const std::vector<uint8_t>& request) {
  if (request.size() != 8 || request[0] != address_) return {};
  if (request[1] == 0x04) {
    step();
    StatusRegisters r = registers;
    r.state = state_;
    return statusReply(address_, r);
  }
  if (request[1] != 0x06) return {};
  switch (request[5]) {
    case 1:
    case 2:
      if (state_ == 0) {
        continuous_ = request[5] == 2;
        state_ = 1;
        ticks_ = 0;
      }
      break;
    case 3:
      if (state_ == 1 || state_ == 2) {
        state_ = 3;
        ticks_ = 0;
      }
      break;
    default:
      break;
  }
  return commandEcho(address_, request[5]);
}

void ScriptedAnalyzer::step() {
  ++ticks_;
  switch (state_) {
    case 1:
      if (ticks_ >= durations.zeroSetting) {
        state_ = 2;
        ticks_ = 0;
      }
      break;
    case 2:
      if (!continuous_ && ticks_ >= durations.measuring) {
        state_ = 3;
        ticks_ = 0;
      }
      break;
    case 3:
      if (ticks_ >= durations.purging) {
        state_ = 0;
        ticks_ = 0;
      }
      break;
    default:
      break;
  }
}
