#include "acquisition/poll_cycle.h"

#include <cmath>

#include "acquisition/state_texts.h"
#include "app/platform_seams.h"
#include "device/register_map.h"
#include "storage/settings_files.h"

namespace {
// Rounding of the program: to the nearest integer, halves to the even one.
int64_t Round(double x) { return int64_t(std::nearbyint(x)); }

const QString kZeroSettingCaption =
    QStringLiteral(u"Korvex: производится установка нуля, пожалуйста подождите");
}  // namespace

PollCycle::PollCycle(PollCycleHost& host, TDeviceRecord& device, const TProgramSettings& settings,
                     ReplyCollector& reply, const TFuelRow* fuelTable)
    : host_(host), dev_(device), settings_(settings), reply_(reply), fuelTable_(fuelTable) {}

QString PollCycle::DailyLogName(double logDate) {
  return PathWithoutExtension(seams::ExecutablePath()) + QLatin1Char('-') +
         seams::FromDateTime(logDate).date().toString(QStringLiteral("yy-MM-dd")) +
         QStringLiteral(".ask");
}

void PollCycle::Tick() {
  // The first tick of a new day writes the day's log. It comes before the
  // reply is taken, so a result taken at this tick opens the new day's log
  // instead of closing the old one with a row dated the next day.
  if (std::floor(dev_.LogDate) < std::floor(seams::Now()))
    host_.SaveChartToFile(DailyLogName(dev_.LogDate), true);

  // The reply collected since the last tick.
  FaultText.clear();
  if (reply_.Accepted()) {
    dev_.LinkState = kLinkAccepted;
    if (reply_.ReplyBuffer[5] == kRequestStop && dev_.DeviceState == kStateNotConnected) {
      // The echo of a stop from an analyzer that was taken for lost.
      dev_.WorkMode = kModeStopping;
      dev_.DeviceState = 3;
      dev_.RequestKind = kRequestStatus;
    } else if (ModeRequest != kAskNone) {
      TakeOverModeRequest();
    } else {
      ++PhaseTick;
      HandleReply();
    }
    SilentTicks = 0;
  }
  reply_.Clear();

  // The state label.
  QString label = StateText(dev_.DeviceState);
  if (!FaultText.isEmpty()) label += QStringLiteral("\r\n") + FaultText;
  host_.ShowState(label);

  // As long as the analyzer is taken for lost, every tick sends a stop.
  if (dev_.DeviceState == kStateNotConnected) {
    dev_.RequestKind = kRequestStop;
    dev_.WorkMode = kModeStopping;
  }
  dev_.LinkState = kLinkSending;
  host_.SendRequest(dev_.RequestKind);

  // Link watch.
  if (SilentTicks > kSilentTicksLimit) {
    host_.ShowLinkAlarm(true);
    if (dev_.DeviceState < 5) {
      host_.LinkLost();
      dev_.DeviceState = kStateNotConnected;
    }
  } else {
    ++SilentTicks;
    host_.ShowLinkAlarm(false);
  }
}

void PollCycle::TakeOverModeRequest() {
  PhaseTick = 0;
  const int slot = SlotIndex(dev_);
  const bool idle = dev_.DeviceState == 0;
  // Preparation length in ticks: minutes x 60 000 ms (+ 30 000), per 1000 ms.
  const double prepare = (double(dev_.CalibrationTime[slot]) + dev_.DrainTime[slot]) * 60 * 1000;
  const double single = (double(dev_.CalibrationTime[slot]) + dev_.DrainTime[slot] +
                         dev_.MeasurementTime[slot]) * 60 * 1000 + 30 * 1000;
  const auto startBar = [this] {
    host_.ShowLinkAlarm(false);
    host_.SetProgress(0);
    host_.SetProgressVisible(true);
  };
  switch (ModeRequest) {
    case kAskContinuous:
      if (idle) {
        startBar();
        dev_.RequestKind = kRequestContinuous;
        PhaseLength = int32_t(Round(prepare / 1000.0));
        dev_.WorkMode = kModeContinuous;
      } else {
        dev_.RequestKind = kRequestStatus;
      }
      break;
    case kAskSingle:
    case kAskCyclic:
      if (idle) {
        startBar();
        dev_.RequestKind = kRequestSingle;
        PhaseLength = int32_t(Round(single / 1000.0));
        ResultPending = false;
        if (ModeRequest == kAskSingle) {
          dev_.WorkMode = kModeSingle;
        } else {
          dev_.WorkMode = kModeCyclic;
          // CyclePeriod minutes less 2 seconds from now.
          ModeEndTime = seams::Now() + (dev_.CyclePeriod[slot] - 1.0 / 30) / 1440;
        }
      } else {
        dev_.RequestKind = kRequestStatus;
      }
      break;
    case kAskStop:
      host_.SetProgressVisible(false);
      dev_.RequestKind = kRequestStop;
      dev_.WorkMode = kModeStopping;
      break;
    default:
      break;
  }
  ModeRequest = kAskNone;  // a mode asked for while the analyzer is busy is dropped
}

uint16_t PollCycle::ReplyWord(int at) const {
  return uint16_t(reply_.ReplyBuffer[at] << 8 | reply_.ReplyBuffer[at + 1]);
}

void PollCycle::BuildFaultText() { ::BuildFaultText(ReplyWord(kReplyFaultHigh), FaultText); }

void PollCycle::Decode() {
  // Only a whole status reply is decoded: a shorter one would mix with nothing
  // but zeros, and its measurement must not be taken for a reading.
  if (!IsWholeStatusReply(reply_)) return;
  const int fuel = (dev_.FuelIndex >= 0 && dev_.FuelIndex < kFuelCount) ? dev_.FuelIndex : 0;
  DecodeMeasurement(reply_.ReplyBuffer, fuelTable_[fuel], seams::Now(), dev_.Measurement);
}

QString PollCycle::ServiceCaption() const {
  const uint8_t* r = reply_.ReplyBuffer;
  return QStringLiteral(u"Korvex адр:%1 обслуживание %2.%3.%4 наработка %5 часа(ов)")
      .arg(int(dev_.DeviceAddress))
      .arg(int(r[kReplyServiceDay]))
      .arg(int(r[kReplyServiceMonth]))
      .arg(int(ReplyWord(kReplyServiceYear)))
      .arg(int(ReplyWord(kReplyRunningHours)));
}

void PollCycle::ShowProgress() {
  double position = 100;
  if (PhaseLength > 0) position = 100 - double(PhaseLength - PhaseTick) / PhaseLength * 100;
  host_.SetProgress(int(std::clamp<int64_t>(Round(position), 0, 100)));
}

void PollCycle::HandleReply() {
  const bool status = reply_.ReplyBuffer[kReplyFunction] == 0x04;
  const uint8_t state = reply_.ReplyBuffer[kReplyState];
  const uint8_t mode = dev_.WorkMode;

  if (mode == kModeStartUp) {
    dev_.DeviceState = kStateNotConnected;
    return;
  }
  if (!status) {
    // A command's echo: back to status polling.
    dev_.RequestKind = kRequestStatus;
    return;
  }
  switch (mode) {
    case kModeIdle:
      BuildFaultText();
      host_.SetCaption(ServiceCaption());
      dev_.DeviceState = state;
      break;
    case kModeContinuous:
      dev_.DeviceState = state;
      BuildFaultText();
      HandleContinuous(state);
      break;
    case kModeSingle:
    case kModeCyclic:
      dev_.DeviceState = state;
      BuildFaultText();
      HandleSingleOrCyclic(state, mode == kModeCyclic);
      break;
    case kModeStopping:
      dev_.DeviceState = state;
      if (state == 0) {
        dev_.WorkMode = kModeIdle;
        host_.EnableModeButtons();
      } else if (state == 3) {
        Decode();
        host_.DataToCaption();
      }
      break;
    default:
      break;
  }
}

void PollCycle::HandleContinuous(uint8_t state) {
  switch (state) {
    case 0:
      ModeRequest = kAskContinuous;  // the next period starts at the next accepted reply
      break;
    case 1:
      host_.SetCaption(kZeroSettingCaption);
      ShowProgress();
      // Re-armed on every tick of the zero setting: the period runs from its end.
      ModeEndTime = seams::Now() + double(dev_.CalibrationInterval[SlotIndex(dev_)]) / 1440;
      break;
    case 2: {
      host_.SetCaption(QStringLiteral(u"Korvex: наработка %1 часа(ов)")
                           .arg(int(ReplyWord(kReplyRunningHours))));
      host_.SetProgressVisible(false);
      Decode();
      if (RefreshCounter >= settings_.RefreshPeriod) {
        ResultTime = seams::Now();
        host_.WievResult();
        RefreshCounter = 1;
      } else {
        ++RefreshCounter;
      }
      if (seams::Now() > ModeEndTime) dev_.RequestKind = kRequestStop;
      break;
    }
    case 3:
      host_.SetCaption(QStringLiteral(u"Korvex: подготовка к следующему измерению"));
      break;
    default:
      dev_.DeviceState = kStateNotConnected;
      break;
  }
}

void PollCycle::HandleSingleOrCyclic(uint8_t state, bool cyclic) {
  switch (state) {
    case 0:
      if (ResultPending) {
        // The row is made from the idle reply, stamped with the last measuring tick.
        ResultPending = false;
        Decode();
        host_.WievResult();
      }
      if (!cyclic) {
        dev_.WorkMode = kModeIdle;
        host_.BitBtnStopClick();
        host_.SetProgressVisible(false);
      } else {
        host_.SetProgressVisible(false);
        const double now = seams::Now();
        if (now >= ModeEndTime)
          ModeRequest = kAskCyclic;
        else
          host_.SetCaption(QStringLiteral(u"Korvex: до старта %1 секунд(ы)")
                               .arg(qint64(Round((ModeEndTime - now) * 86400))));
      }
      break;
    case 1:
      host_.SetCaption(kZeroSettingCaption);
      ShowProgress();
      break;
    case 2:
      ShowProgress();
      Decode();
      host_.DataToCaption();
      ResultPending = true;
      ResultTime = seams::Now();
      break;
    case 3:
      host_.SetProgressVisible(false);
      host_.SetCaption(QStringLiteral(u"Korvex: продувка датчиков чистым воздухом"));
      break;
    default:
      dev_.DeviceState = kStateNotConnected;
      break;
  }
}
