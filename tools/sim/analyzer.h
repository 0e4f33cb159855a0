#pragma once
// The simulated Korvex analyzer: its operating states (idle, zero setting,
// measuring, purging, manual operation), the commands written to holding
// register 0, and the 14 input registers it reports. Thread-safe: the Modbus
// thread answers from it while the control thread changes it.

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

namespace sim {

enum State : uint8_t { kIdle = 0, kZero = 1, kMeasuring = 2, kPurging = 3, kManual = 4 };

const char* stateName(int state);

struct Durations {
  double zero = 10;     // seconds of zero setting
  double measure = 20;  // seconds of measuring in a single measurement
  double purge = 5;     // seconds of purging
};

struct ServiceInfo {
  int day = 15;
  int month = 3;
  int year = 2025;
  int hours = 1234;  // running hours at start
};

using Registers = std::array<uint16_t, 14>;

// Input registers that carry a reading, by channel name (tg ta o2 co no no2
// so2 h2s); -1 for an unknown name.
int channelRegister(const std::string& name);

class Analyzer {
 public:
  using Clock = std::chrono::steady_clock;
  using EventSink = std::function<void(const std::string&)>;

  // `minReplies`: a timed state ends only after it was reported in at least
  // this many status replies, so a slow master still sees every state.
  // `address`: its Modbus address, which sets its readings apart from those
  // of the other analyzers on the line.
  Analyzer(Durations durations, int minReplies, ServiceInfo service, EventSink events,
           int address = 1);

  // A write of `value` to holding register 0: 1 single, 2 continuous, 3 stop.
  void command(uint16_t value);
  // Runs the state timers.
  void advance();
  // The registers of one status reply (counts as one report of the state).
  Registers statusReply();

  // Control.
  void setFaultWord(uint16_t word);
  void setSpecial(int reg, std::optional<uint16_t> code);  // code in place of a reading
  void setRaw(int reg, std::optional<uint16_t> value);     // any register, fixed
  void setManual(bool on);
  void setDurations(const Durations& d);
  void setMinReplies(int n);
  void clearFaults();  // fault word, special values, raw values, manual operation
  std::string status();

 private:
  void enter(State s);
  void advanceLocked(Clock::time_point now);
  void sampleLocked(Clock::time_point now);
  bool reportedEnough() const { return repliesInState_ >= minReplies_; }
  double elapsed(Clock::time_point now) const;

  std::mutex mu_;
  const int address_;
  Durations durations_;
  int minReplies_;
  ServiceInfo service_;
  EventSink events_;
  Clock::time_point start_;
  Clock::time_point since_;
  State state_ = kIdle;
  bool continuous_ = false;
  int repliesInState_ = 0;
  uint16_t faultWord_ = 0;
  bool manual_ = false;
  Registers readings_{};  // the last measured values (registers 2..10)
  std::array<std::optional<uint16_t>, 14> special_{};
  std::array<std::optional<uint16_t>, 14> raw_{};
  long statusReplies_ = 0;
  long commands_ = 0;
};

}  // namespace sim
