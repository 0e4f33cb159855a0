#pragma once
// The poll cycle: one tick a second drives the whole exchange with the
// analyzer. A tick looks at the reply collected since the previous tick, acts
// on it according to the program's mode and the analyzer's reported state,
// and at its end sends exactly one request. It holds no widgets: it reports
// what happened as signals carrying values (a result taken, the day ended, a
// mode started or finished, the link lost, texts for the state and caption,
// the progress), and whoever shows or keeps them connects to those.

#include <QDate>
#include <QDateTime>
#include <QObject>
#include <QString>
#include <cstdint>

#include "acquisition/link_statistics.h"
#include "core/result.h"
#include "device/analyzer_link.h"
#include "device/fuel_table.h"
#include "core/measurement.h"
#include "device/register_map.h"

// What the mode buttons ask for; taken over at the next accepted reply.
enum class ModeRequest : uint8_t { None = 0, Continuous = 1, Single = 2, Cyclic = 3, Stop = 4 };

// What the cycle needs of the settings.
struct PollSettings {
  uint8_t address = 1;
  int32_t refreshPeriod = 10;  // a continuous measurement's result every this many ticks
  // Of the slot in use, in minutes.
  uint8_t calibrationTime = 3;
  uint8_t drainTime = 0;
  uint8_t measurementTime = 3;
  int32_t calibrationInterval = 60;  // length of a continuous measurement's period
  int32_t cyclePeriod = 30;
  int fuelIndex = 0;
};

// Ticks without an accepted reply after which the analyzer is taken for lost.
inline constexpr int32_t kSilentTicksLimit = 30;

class PollCycle : public QObject {
  Q_OBJECT
 public:
  explicit PollCycle(AnalyzerLink& link, QObject* parent = nullptr);

  void setSettings(const PollSettings& settings) { settings_ = settings; }
  // The fuel table the derived channels are computed with (the built-in one
  // until set).
  void setFuels(const FuelTable& fuels) { fuels_ = fuels; }
  const FuelTable& fuels() const { return fuels_; }
  const PollSettings& settings() const { return settings_; }

  // The state of a program start: the analyzer not yet heard from, the
  // start-up mode (its first request stops whatever the analyzer does), the
  // day begun now.
  void restart();

  // One tick.
  void tick();

  // The mode buttons.
  void requestMode(ModeRequest request) { modeRequest_ = request; }
  ModeRequest modeRequest() const { return modeRequest_; }

  WorkMode workMode() const { return workMode_; }
  AnalyzerState analyzerState() const { return analyzerState_; }
  Request requestKind() const { return requestKind_; }
  // The state as a start-up or the fuzzer may find it.
  void setWorkMode(WorkMode mode) { workMode_ = mode; }
  void setAnalyzerState(AnalyzerState state) { analyzerState_ = state; }
  void setRequestKind(Request kind) { requestKind_ = kind; }

  // The latest decoded measurement.
  const Measurement& measurement() const { return measurement_; }
  // When the pending (or last) result was taken, as a program date-time.
  double resultTime() const;
  int32_t phaseTick() const { return phaseTick_; }
  int32_t phaseLength() const { return phaseLength_; }
  double modeEndTime() const { return modeEndTime_; }
  int32_t silentTicks() const { return silentTicks_; }
  // A single or cyclic measurement has measured: its result comes with the idle reply.
  bool resultPending() const { return resultPending_; }

  // The moment the current day's log began; a tick on a later calendar day
  // reports the day ended first.
  double logDate() const { return logDate_; }
  void setLogDate(double dateTime) { logDate_ = dateTime; }

  // The exchange's figures since the cycle was made or last reset; the
  // line's own (bytes, reconnects) come from the link.
  LinkStatistics statistics() const;
  // Every figure back to 0, counting from now.
  void resetStatistics();

 signals:
  void stateTextChanged(const QString& text);
  void captionChanged(const QString& caption);
  // Newest values while measuring, for the caption.
  void measurementShown(const Measurement& measurement);
  void progressChanged(int percent);
  void progressVisibleChanged(bool visible);
  void modeStarted(WorkMode mode);
  // A single measurement is over: the cycle asks for the stop itself.
  void modeFinished();
  // Back to idle after a stop: a mode may be started again.
  void analyzerReady();
  // The analyzer has not answered for kSilentTicksLimit ticks (the state label
  // turns red while it is so).
  void linkAlarmChanged(bool alarm);
  // Emitted once when an answering analyzer goes silent; the cycle asks for
  // the stop itself.
  void linkLost();
  void resultTaken(const Result& result);
  // The fault word of an accepted status reply differs from the last one seen.
  void faultWordChanged(quint16 word);
  // The first tick of a new calendar day, before anything else: `day` is the
  // date the log that now ends was begun on.
  void dayEnded(const QDate& day);
  // After every tick and a reset: the statistics may have changed.
  void statisticsChanged();

 private:
  void takeOverModeRequest();
  void handleReply();
  void handleContinuous(AnalyzerState state);
  void handleSingleOrCyclic(AnalyzerState state, bool cyclic);
  void showProgress();
  void takeFaultTexts();
  QString serviceCaption() const;
  uint16_t replyWord(int at) const;
  void decode();
  void takeResult();
  void setLinkAlarm(bool alarm);
  void countReply();

  AnalyzerLink& link_;
  FuelTable fuels_ = builtInFuelTable();
  PollSettings settings_;

  WorkMode workMode_ = WorkMode::StartUp;
  AnalyzerState analyzerState_ = AnalyzerState::NotConnected;
  Request requestKind_ = Request::Status;
  ModeRequest modeRequest_ = ModeRequest::None;
  int32_t phaseTick_ = 0;
  int32_t phaseLength_ = 0;
  double modeEndTime_ = 0;
  bool resultPending_ = false;
  QDateTime resultTime_;
  int32_t refreshCounter_ = 0;
  int32_t silentTicks_ = 0;
  bool linkAlarm_ = false;
  quint16 faultWord_ = 0;
  double logDate_ = 0;
  QString faultText_;
  Measurement measurement_;
  LinkStatistics statistics_;
  bool requestOut_ = false;  // a request went out at the last tick
};
