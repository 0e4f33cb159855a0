#include <QDateTime>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "acquisition/poll_cycle.h"
#include "platform/seams.h"
#include "device/fuel_table.h"
#include "fuzz/harnesses.h"
#include "data/value_format.h"

namespace {

#define FUZZ_CHECK(cond) \
  do {                   \
    if (!(cond)) std::abort(); \
  } while (0)

class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool empty() const { return pos_ >= size_; }
  uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  int32_t integer() {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= uint32_t(byte()) << (8 * i);
    return int32_t(v);
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

}  // namespace

int fuzzPollTick(const uint8_t* data, size_t size) {
  ensureFuzzApplication();
  Reader in(data, size);
  FuelTable fuel = builtInFuelTable();

  AnalyzerLink link;  // no port: requests go nowhere, replies come from the input
  PollCycle cycle(link);
  cycle.setWorkMode(WorkMode(in.byte() % 6));
  cycle.setAnalyzerState(AnalyzerState(in.byte()));
  PollSettings s;
  s.refreshPeriod = in.byte();
  s.calibrationTime = in.byte();
  s.drainTime = in.byte();
  s.measurementTime = in.byte();
  s.calibrationInterval = int8_t(in.byte());
  s.cyclePeriod = int8_t(in.byte());
  cycle.setRequestKind(Request(in.byte()));
  s.fuelIndex = in.byte() % kFuelCount;
  if (in.byte() & 1) {  // a fuel row edited to anything
    FuelRow& row = fuel[size_t(s.fuelIndex)];
    row.tMax = in.integer();
    row.co2Max = in.integer();
    row.kfB = in.integer();
    row.kfC = in.integer();
    row.kfK = in.integer();
    row.kfP = in.integer();
  }
  cycle.setFuels(fuel);
  cycle.setSettings(s);

  QDateTime now(QDate(2026, 12, 6), QTime(23, 50, 0));
  seams::setClock([&now] { return now; });
  cycle.setLogDate(seams::now());
  cycle.requestMode(ModeRequest(in.byte() % 5));

  // Everything the window would show is formatted, so the texts of odd values
  // are exercised too.
  QObject::connect(&cycle, &PollCycle::stateTextChanged, [](const QString& t) { FUZZ_CHECK(!t.isEmpty()); });
  QObject::connect(&cycle, &PollCycle::captionChanged, [](const QString& t) { FUZZ_CHECK(!t.isEmpty()); });
  QObject::connect(&cycle, &PollCycle::progressChanged, [](int p) { FUZZ_CHECK(p >= 0 && p <= 100); });
  int rows = 0;
  QObject::connect(&cycle, &PollCycle::resultTaken, [&rows](const Result& r) {
    FUZZ_CHECK(resultCells(r.values, r.faultBits, r.localDateTime(), rows++).size() == 16);
    plottedValues(r.values);
  });
  QObject::connect(&cycle, &PollCycle::measurementShown, [](const Measurement& m) {
    FUZZ_CHECK(measurementCaption(m).startsWith(QStringLiteral("Korvex (")));
  });
  QObject::connect(&cycle, &PollCycle::dayEnded, [](const QDate& day) { FUZZ_CHECK(day.isValid()); });
  QObject::connect(&cycle, &PollCycle::linkLost, [&cycle] {
    FUZZ_CHECK(uint8_t(cycle.analyzerState()) < 5);
    FUZZ_CHECK(cycle.modeRequest() == ModeRequest::Stop);
  });

  while (!in.empty()) {
    const uint8_t control = in.byte();
    switch (control & 7) {
      case 1: cycle.requestMode(ModeRequest::Continuous); break;
      case 2: cycle.requestMode(ModeRequest::Single); break;
      case 3: cycle.requestMode(ModeRequest::Cyclic); break;
      case 4: cycle.requestMode(ModeRequest::Stop); break;
      default: break;
    }
    now = now.addSecs(control >> 3);
    const int length = in.byte();
    std::vector<uint8_t> bytes(static_cast<size_t>(length));
    for (uint8_t& b : bytes) b = in.byte();
    link.receive(bytes.data(), length);
    FUZZ_CHECK(link.reply().length() >= 0 && link.reply().length() <= ReplyCollector::kCapacity);
    const WorkMode modeBefore = cycle.workMode();
    cycle.tick();
    FUZZ_CHECK(link.reply().length() == 0);
    FUZZ_CHECK(cycle.workMode() <= WorkMode::StartUp || cycle.workMode() == modeBefore);
    FUZZ_CHECK(link.linkState() == LinkState::Sending || link.linkState() == LinkState::Sent);
    FUZZ_CHECK(cycle.silentTicks() >= 0 && cycle.silentTicks() <= kSilentTicksLimit + 1);
  }
  seams::setClock({});
  return 0;
}
