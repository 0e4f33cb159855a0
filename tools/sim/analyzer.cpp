#include "sim/analyzer.h"

#include <cmath>
#include <cstdio>

namespace sim {

namespace {

constexpr double kTwoPi = 6.283185307179586;

// Plausible flue-gas readings of a gas boiler, drifting slowly. Each address
// is a boiler of its own: its flue gas 25 deg C hotter than the one before
// (the ranges of eight neighbouring addresses do not overlap, so a reading
// tells where it came from) and every course out of phase with the others.
// Address 1 is the boiler of a single analyzer.
Registers wave(double t, int address) {
  const double shift = 0.7 * (address - 1);
  const auto wave = [t, shift](double mean, double amplitude, double period, double phase) {
    return mean + amplitude * std::sin(kTwoPi * t / period + phase + shift);
  };
  const double hotter = 25.0 * ((address - 1) % 8);
  Registers r{};
  r[2] = uint16_t(int16_t(std::lround(wave(180 + hotter, 12, 97, 0))));  // Tg, deg C
  r[3] = uint16_t(int16_t(std::lround(wave(21, 1.5, 301, 0.5))));  // Ta
  r[4] = uint16_t(std::lround(wave(350, 45, 61, 1)));   // O2, 0.01 %
  r[5] = 0;
  r[6] = uint16_t(std::lround(wave(48, 15, 43, 2)));    // CO, ppm
  r[7] = uint16_t(std::lround(wave(40, 6, 53, 3)));     // NO
  r[8] = uint16_t(std::lround(wave(5, 2, 71, 4)));      // NO2
  r[9] = uint16_t(std::lround(wave(12, 4, 89, 5)));     // SO2
  r[10] = uint16_t(std::lround(wave(1, 1, 113, 6)));    // H2S
  return r;
}

}  // namespace

const char* stateName(int state) {
  switch (state) {
    case kIdle: return "idle";
    case kZero: return "zero setting";
    case kMeasuring: return "measuring";
    case kPurging: return "purging";
    case kManual: return "manual operation";
    default: return "?";
  }
}

int channelRegister(const std::string& name) {
  static const char* kNames[] = {"tg", "ta", "o2", "co", "no", "no2", "so2", "h2s"};
  static const int kRegisters[] = {2, 3, 4, 6, 7, 8, 9, 10};
  for (int i = 0; i < 8; ++i)
    if (name == kNames[i]) return kRegisters[i];
  return -1;
}

Analyzer::Analyzer(Durations durations, int minReplies, ServiceInfo service, EventSink events,
                   int address)
    : address_(address),
      durations_(durations),
      minReplies_(minReplies),
      service_(service),
      events_(std::move(events)),
      start_(Clock::now()),
      since_(start_) {
  readings_ = wave(0, address_);
}

double Analyzer::elapsed(Clock::time_point now) const {
  return std::chrono::duration<double>(now - since_).count();
}

void Analyzer::enter(State s) {
  state_ = s;
  since_ = Clock::now();
  repliesInState_ = 0;
  if (events_) events_("STATE " + std::to_string(int(s)) + " " + stateName(s));
}

void Analyzer::command(uint16_t value) {
  std::lock_guard<std::mutex> lock(mu_);
  ++commands_;
  advanceLocked(Clock::now());
  const auto say = [this, value](const char* what) {
    if (events_) events_("COMMAND " + std::to_string(value) + " " + what);
  };
  if (manual_) {
    say("ignored (manual operation)");
    return;
  }
  switch (value) {
    case 1:
    case 2:
      if (state_ != kIdle) {
        say("ignored (busy)");
        return;
      }
      say(value == 1 ? "single measurement" : "continuous measurement");
      continuous_ = value == 2;
      enter(kZero);
      break;
    case 3:
      say("stop");
      if (state_ == kZero || state_ == kMeasuring) enter(kPurging);
      break;
    default:
      say("ignored (unknown)");
      break;
  }
}

void Analyzer::advance() {
  std::lock_guard<std::mutex> lock(mu_);
  advanceLocked(Clock::now());
}

void Analyzer::advanceLocked(Clock::time_point now) {
  if (manual_) return;
  for (;;) {
    const double t = elapsed(now);
    if (state_ == kZero && t >= durations_.zero && reportedEnough()) {
      enter(kMeasuring);
    } else if (state_ == kMeasuring && !continuous_ && t >= durations_.measure && reportedEnough()) {
      enter(kPurging);
    } else if (state_ == kPurging && t >= durations_.purge && reportedEnough()) {
      enter(kIdle);
    } else {
      break;
    }
    now = Clock::now();
  }
  if (state_ == kMeasuring) sampleLocked(now);
}

void Analyzer::sampleLocked(Clock::time_point now) {
  readings_ = wave(std::chrono::duration<double>(now - start_).count(), address_);
}

Registers Analyzer::statusReply() {
  std::lock_guard<std::mutex> lock(mu_);
  const auto now = Clock::now();
  advanceLocked(now);
  ++repliesInState_;
  ++statusReplies_;
  Registers r = readings_;
  r[0] = manual_ ? kManual : state_;
  r[1] = faultWord_;
  for (int k = 2; k <= 10; ++k)
    if (special_[k]) r[k] = *special_[k];
  r[11] = uint16_t((service_.month & 0xFF) << 8 | (service_.day & 0xFF));
  r[12] = uint16_t(service_.year);
  const double hours = std::chrono::duration<double>(now - start_).count() / 3600;
  r[13] = uint16_t(service_.hours + long(hours));
  for (int k = 0; k < 14; ++k)
    if (raw_[k]) r[k] = *raw_[k];
  return r;
}

void Analyzer::setFaultWord(uint16_t word) {
  std::lock_guard<std::mutex> lock(mu_);
  faultWord_ = word;
}

void Analyzer::setSpecial(int reg, std::optional<uint16_t> code) {
  std::lock_guard<std::mutex> lock(mu_);
  if (reg >= 0 && reg < 14) special_[reg] = code;
}

void Analyzer::setRaw(int reg, std::optional<uint16_t> value) {
  std::lock_guard<std::mutex> lock(mu_);
  if (reg >= 0 && reg < 14) raw_[reg] = value;
}

void Analyzer::setManual(bool on) {
  std::lock_guard<std::mutex> lock(mu_);
  if (manual_ == on) return;
  manual_ = on;
  if (on) {
    // The operator took over at the panel: whatever ran is abandoned, and
    // after manual operation the analyzer waits idle.
    continuous_ = false;
    state_ = kIdle;
    since_ = Clock::now();
    repliesInState_ = 0;
    if (events_) events_("STATE 4 manual operation");
  } else {
    enter(kIdle);
  }
}

void Analyzer::setDurations(const Durations& d) {
  std::lock_guard<std::mutex> lock(mu_);
  durations_ = d;
}

void Analyzer::setMinReplies(int n) {
  std::lock_guard<std::mutex> lock(mu_);
  minReplies_ = n;
}

void Analyzer::clearFaults() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    faultWord_ = 0;
    special_.fill(std::nullopt);
    raw_.fill(std::nullopt);
  }
  setManual(false);
}

std::string Analyzer::status() {
  std::lock_guard<std::mutex> lock(mu_);
  advanceLocked(Clock::now());
  char text[256];
  std::snprintf(text, sizeof text,
                "state=%d mode=%s faults=0x%04X manual=%d status_replies=%ld commands=%ld "
                "times=%g/%g/%g min_replies=%d",
                manual_ ? int(kManual) : int(state_),
                state_ == kIdle ? "none" : (continuous_ ? "continuous" : "single"), faultWord_,
                manual_ ? 1 : 0, statusReplies_, commands_, durations_.zero, durations_.measure,
                durations_.purge, minReplies_);
  return text;
}

}  // namespace sim
