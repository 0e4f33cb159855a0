#pragma once
// The poll cycle: one tick a second drives the whole exchange with the
// analyzer. A tick looks at the reply collected since the previous tick, acts
// on it according to the program's mode (WorkMode) and the analyzer's reported
// state, updates the state label, caption and progress bar, and at its end
// sends exactly one request. The window that shows all this implements
// PollCycleHost; the cycle itself holds no widgets, so it can be driven and
// fuzzed on its own.

#include <QString>
#include <cstdint>

#include "device/fuel_table.h"
#include "device/modbus_rtu.h"
#include "storage/settings_records.h"

// WorkMode values.
inline constexpr uint8_t kModeIdle = 0;
inline constexpr uint8_t kModeContinuous = 1;
inline constexpr uint8_t kModeSingle = 2;
inline constexpr uint8_t kModeCyclic = 3;
inline constexpr uint8_t kModeStopping = 4;
inline constexpr uint8_t kModeStartUp = 5;

// ModeRequest values.
inline constexpr uint8_t kAskNone = 0;
inline constexpr uint8_t kAskContinuous = 1;
inline constexpr uint8_t kAskSingle = 2;
inline constexpr uint8_t kAskCyclic = 3;
inline constexpr uint8_t kAskStop = 4;

// Ticks without an accepted reply after which the analyzer is taken for lost.
inline constexpr int32_t kSilentTicksLimit = 30;

class PollCycleHost {
 public:
  virtual ~PollCycleHost() = default;
  // LabelMode: its text, and its background (red = analyzer lost).
  virtual void ShowState(const QString& text) = 0;
  virtual void ShowLinkAlarm(bool alarm) = 0;
  virtual void SetCaption(const QString& caption) = 0;
  // ProgressBar1.
  virtual void SetProgressVisible(bool visible) = 0;
  virtual void SetProgress(int position) = 0;
  // Enables BitBtnPost, BitBtnOdnokr and BitBtnCikl.
  virtual void EnableModeButtons() = 0;
  // The stop button's handler (sets ModeRequest to 4 and the stopped look).
  virtual void BitBtnStopClick() = 0;
  // Appends Measurement with ResultTime to the table and the chart.
  virtual void WievResult() = 0;
  // Writes the main values of Measurement into the caption.
  virtual void DataToCaption() = 0;
  // Writes the results table to `fileName`; clears table and chart when `clear`.
  virtual void SaveChartToFile(const QString& fileName, bool clear) = 0;
  // The analyzer stopped answering while it was connected: Timer1 off, the
  // warning box, BitBtnStopClick, Timer1 on again.
  virtual void LinkLost() = 0;
  // Sends the request of `kind` to the analyzer.
  virtual void SendRequest(uint8_t kind) = 0;
};

class PollCycle {
 public:
  PollCycle(PollCycleHost& host, TDeviceRecord& device, const TProgramSettings& settings,
            ReplyCollector& reply, const TFuelRow* fuelTable);

  // One tick of Timer1.
  void Tick();

  // State of the cycle (the mode buttons write ModeRequest).
  uint8_t ModeRequest = kAskNone;
  int32_t PhaseTick = 0;
  int32_t PhaseLength = 0;
  double ModeEndTime = 0;
  bool ResultPending = false;
  double ResultTime = 0;
  int32_t RefreshCounter = 0;
  int32_t SilentTicks = 0;
  QString FaultText;

  // The daily log's file name for a LogDate: executable path without its
  // extension, "-", "yy-mm-dd", ".ask".
  static QString DailyLogName(double logDate);

 private:
  void TakeOverModeRequest();
  void HandleReply();
  void HandleContinuous(uint8_t state);
  void HandleSingleOrCyclic(uint8_t state, bool cyclic);
  void ShowProgress();
  void BuildFaultText();
  QString ServiceCaption() const;
  uint16_t ReplyWord(int at) const;
  void Decode();

  PollCycleHost& host_;
  TDeviceRecord& dev_;
  const TProgramSettings& settings_;
  ReplyCollector& reply_;
  const TFuelRow* fuelTable_;
};
