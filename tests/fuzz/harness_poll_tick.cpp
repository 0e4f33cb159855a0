#include <QDateTime>
#include <cstdlib>
#include <cstring>

#include "acquisition/poll_cycle.h"
#include "app/platform_seams.h"
#include "device/fuel_table.h"
#include "fuzz/harnesses.h"
#include "storage/settings_records.h"
#include "view/value_format.h"

namespace {

#define FUZZ_CHECK(cond) \
  do {                   \
    if (!(cond)) std::abort(); \
  } while (0)

class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool Empty() const { return pos_ >= size_; }
  uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  int32_t Int() {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= uint32_t(Byte()) << (8 * i);
    return int32_t(v);
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

// The window's side of the cycle, without widgets: it formats everything the
// real window would show, so the texts of odd values are exercised too.
class Host : public PollCycleHost {
 public:
  PollCycle* cycle = nullptr;
  TDeviceRecord* device = nullptr;
  int linkLost = 0;

  void ShowState(const QString& text) override { FUZZ_CHECK(!text.isEmpty()); }
  void ShowLinkAlarm(bool) override {}
  void SetCaption(const QString& caption) override { FUZZ_CHECK(!caption.isEmpty()); }
  void SetProgressVisible(bool) override {}
  void SetProgress(int position) override { FUZZ_CHECK(position >= 0 && position <= 100); }
  void EnableModeButtons() override {}
  void BitBtnStopClick() override { cycle->ModeRequest = kAskStop; }
  void WievResult() override {
    const QStringList cells = ResultRowCells(device->Measurement, cycle->ResultTime, rows++);
    FUZZ_CHECK(cells.size() == 16);
    ResultChartValues(device->Measurement);
  }
  void DataToCaption() override { FUZZ_CHECK(MeasurementCaption(device->Measurement).startsWith(QStringLiteral("Korvex ("))); }
  void SaveChartToFile(const QString& name, bool) override {
    FUZZ_CHECK(name.endsWith(QStringLiteral(".ask")));
    device->LogDate = seams::Now();
  }
  void LinkLost() override {
    FUZZ_CHECK(device->DeviceState < 5);
    ++linkLost;
    cycle->ModeRequest = kAskStop;
  }
  void SendRequest(uint8_t kind) override { SendRequestTo(kind); }

  void SendRequestTo(uint8_t kind) { ::SendRequest(nullptr, device->DeviceAddress, kind, device->LinkState); }

 private:
  int rows = 0;
};

}  // namespace

int FuzzPollTick(const uint8_t* data, size_t size) {
  Reader in(data, size);
  TProgramSettings settings{};
  TDeviceRecord device{};
  ReplyCollector reply;
  TFuelRow fuel[kFuelCount];
  FuelTableReset();
  for (int i = 0; i < kFuelCount; ++i) fuel[i] = FuelTable[i];

  device.WorkMode = in.Byte() % 6;
  device.DeviceState = in.Byte();
  device.DeviceSlot = 1;
  device.DeviceAddress = 1;
  settings.RefreshPeriod = in.Byte();
  device.CalibrationTime[0] = in.Byte();
  device.DrainTime[0] = in.Byte();
  device.MeasurementTime[0] = in.Byte();
  device.CalibrationInterval[0] = int8_t(in.Byte());
  device.CyclePeriod[0] = int8_t(in.Byte());
  device.RequestKind = in.Byte();
  device.FuelIndex = in.Byte() % kFuelCount;
  if (in.Byte() & 1) {  // a fuel row edited to anything
    TFuelRow& row = fuel[device.FuelIndex];
    row.Tmax = in.Int();
    row.CO2max = in.Int();
    row.kfB = in.Int();
    row.kfC = in.Int();
    row.kfK = in.Int();
    row.kfP = in.Int();
  }

  QDateTime now(QDate(2026, 12, 6), QTime(23, 50, 0));
  seams::SetClock([&now] { return now; });
  device.LogDate = seams::Now();

  Host host;
  PollCycle cycle(host, device, settings, reply, fuel);
  host.cycle = &cycle;
  host.device = &device;
  cycle.ModeRequest = in.Byte() % 5;

  while (!in.Empty()) {
    const uint8_t control = in.Byte();
    switch (control & 7) {
      case 1: cycle.ModeRequest = kAskContinuous; break;
      case 2: cycle.ModeRequest = kAskSingle; break;
      case 3: cycle.ModeRequest = kAskCyclic; break;
      case 4: cycle.ModeRequest = kAskStop; break;
      default: break;
    }
    now = now.addSecs(control >> 3);
    const int length = in.Byte();
    for (int i = 0; i < length; ++i) reply.Recieve(in.Byte(), false, device.LinkState);
    FUZZ_CHECK(reply.ReplyLength >= 0 && reply.ReplyLength <= kReplyCapacity);
    const uint8_t modeBefore = device.WorkMode;
    cycle.Tick();
    FUZZ_CHECK(reply.ReplyLength == 0);
    FUZZ_CHECK(device.WorkMode <= kModeStartUp || device.WorkMode == modeBefore);
    FUZZ_CHECK(device.LinkState == kLinkSending || device.LinkState == kLinkSent);
    FUZZ_CHECK(cycle.SilentTicks >= 0 && cycle.SilentTicks <= kSilentTicksLimit + 1);
  }
  seams::SetClock({});
  return 0;
}
