#include "acquisition/poll_cycle.h"

#include <algorithm>
#include <cmath>

#include "acquisition/state_texts.h"
#include "platform/seams.h"

namespace {
// Rounding of the program: to the nearest integer, halves to the even one.
int64_t roundEven(double x) { return int64_t(std::nearbyint(x)); }

const QString kZeroSettingCaption =
    QStringLiteral(u"Korvex: производится установка нуля, пожалуйста подождите");
}  // namespace

PollCycle::PollCycle(AnalyzerLink& link, QObject* parent) : QObject(parent), link_(link) {
  statistics_.since = seams::currentDateTime();
}

LinkStatistics PollCycle::statistics() const {
  LinkStatistics s = statistics_;
  const LinkCounts& line = link_.counts();
  s.reconnects = line.reconnects;
  s.bytesSent = line.bytesSent;
  s.bytesReceived = line.bytesReceived;
  return s;
}

void PollCycle::resetStatistics() {
  statistics_ = LinkStatistics{};
  statistics_.since = seams::currentDateTime();
  requestOut_ = false;  // a reply to a request from before is not counted
  link_.resetCounts();
  emit statisticsChanged();
}

void PollCycle::countReply() {
  if (!requestOut_) return;
  const ReplyCollector& reply = link_.reply();
  if (reply.accepted()) {
    ++statistics_.replies;
    if (link_.replyTimeMs() >= 0) statistics_.addReplyTime(link_.replyTimeMs());
  } else if (reply.length() > 0) {
    ++statistics_.errors;
  } else {
    ++statistics_.silences;
  }
}

void PollCycle::restart() {
  logDate_ = seams::now();
  analyzerState_ = AnalyzerState::NotConnected;
  workMode_ = WorkMode::StartUp;
  measurement_.faultBits = 0;
}

double PollCycle::resultTime() const {
  return resultTime_.isValid() ? seams::toDateTime(resultTime_) : 0;
}

void PollCycle::tick() {
  // The first tick of a new day ends the day's log. It comes before the reply
  // is taken, so a result taken at this tick opens the new day instead of
  // closing the old one with a row dated the next day.
  if (std::floor(logDate_) < std::floor(seams::now())) {
    emit dayEnded(seams::fromDateTime(logDate_).date());
    logDate_ = seams::now();
  }

  faultText_.clear();
  countReply();
  const ReplyCollector& reply = link_.reply();
  if (reply.accepted()) {
    link_.setLinkState(LinkState::Accepted);
    if (reply[kReplyCommand] == uint8_t(Request::Stop) &&
        analyzerState_ == AnalyzerState::NotConnected) {
      // The echo of a stop from an analyzer that was taken for lost.
      workMode_ = WorkMode::Stopping;
      analyzerState_ = AnalyzerState::Purging;
      requestKind_ = Request::Status;
    } else if (modeRequest_ != ModeRequest::None) {
      takeOverModeRequest();
    } else {
      ++phaseTick_;
      handleReply();
    }
    silentTicks_ = 0;
  }
  link_.clearReply();

  QString label = stateText(analyzerState_);
  if (!faultText_.isEmpty()) label += QStringLiteral("\r\n") + faultText_;
  emit stateTextChanged(label);

  // As long as the analyzer is taken for lost, every tick sends a stop.
  if (analyzerState_ == AnalyzerState::NotConnected) {
    requestKind_ = Request::Stop;
    workMode_ = WorkMode::Stopping;
  }
  link_.setLinkState(LinkState::Sending);
  // A request the closed port did not take was not sent: neither counted
  // nor, at the next tick, its missing reply.
  requestOut_ = link_.send(settings_.address, requestKind_);
  if (requestOut_) ++statistics_.requests;

  // The link watch.
  if (silentTicks_ > kSilentTicksLimit) {
    setLinkAlarm(true);
    if (uint8_t(analyzerState_) < uint8_t(AnalyzerState::Requesting)) {
      modeRequest_ = ModeRequest::Stop;
      emit linkLost();
      analyzerState_ = AnalyzerState::NotConnected;
    }
  } else {
    ++silentTicks_;
    setLinkAlarm(false);
  }
  emit statisticsChanged();
}

void PollCycle::setLinkAlarm(bool alarm) {
  if (alarm == linkAlarm_) return;
  linkAlarm_ = alarm;
  emit linkAlarmChanged(alarm);
}

void PollCycle::takeOverModeRequest() {
  phaseTick_ = 0;
  const bool idle = analyzerState_ == AnalyzerState::Idle;
  const PollSettings& s = settings_;
  // Phase lengths in ticks: minutes x 60 000 ms (+ 30 000), per 1000 ms.
  const double prepare = (double(s.calibrationTime) + s.drainTime) * 60 * 1000;
  const double single =
      (double(s.calibrationTime) + s.drainTime + s.measurementTime) * 60 * 1000 + 30 * 1000;
  const auto start = [this](WorkMode mode) {
    workMode_ = mode;
    setLinkAlarm(false);
    emit modeStarted(mode);
    emit progressChanged(0);
    emit progressVisibleChanged(true);
  };
  switch (modeRequest_) {
    case ModeRequest::Continuous:
      if (idle) {
        requestKind_ = Request::StartContinuous;
        phaseLength_ = int32_t(roundEven(prepare / 1000.0));
        start(WorkMode::Continuous);
      } else {
        requestKind_ = Request::Status;
      }
      break;
    case ModeRequest::Single:
    case ModeRequest::Cyclic:
      if (idle) {
        requestKind_ = Request::StartSingle;
        phaseLength_ = int32_t(roundEven(single / 1000.0));
        resultPending_ = false;
        if (modeRequest_ == ModeRequest::Cyclic) {
          // The cycle period less 2 seconds from now.
          modeEndTime_ = seams::now() + (s.cyclePeriod - 1.0 / 30) / 1440;
          start(WorkMode::Cyclic);
        } else {
          start(WorkMode::Single);
        }
      } else {
        requestKind_ = Request::Status;
      }
      break;
    case ModeRequest::Stop:
      emit progressVisibleChanged(false);
      requestKind_ = Request::Stop;
      workMode_ = WorkMode::Stopping;
      break;
    case ModeRequest::None:
      break;
  }
  modeRequest_ = ModeRequest::None;  // a mode asked for while the analyzer is busy is dropped
}

uint16_t PollCycle::replyWord(int at) const {
  const ReplyCollector& r = link_.reply();
  return uint16_t(r[at] << 8 | r[at + 1]);
}

void PollCycle::takeFaultTexts() {
  const quint16 word = replyWord(kReplyFaultHigh);
  buildFaultText(word, faultText_);
  if (word != faultWord_) {
    faultWord_ = word;
    emit faultWordChanged(word);
  }
}

void PollCycle::decode() {
  // Only a whole status reply is decoded: a shorter one would mix with nothing
  // but zeros, and its measurement must not be taken for a reading.
  if (!isWholeStatusReply(link_.reply())) return;
  const int fuel = (settings_.fuelIndex >= 0 && settings_.fuelIndex < kFuelCount) ? settings_.fuelIndex : 0;
  measurement_ = decodeMeasurement(link_.reply().bytes(), fuels_[size_t(fuel)], seams::now());
}

void PollCycle::takeResult() {
  Result r;
  r.utcMs = resultTime_.toMSecsSinceEpoch();
  r.utcOffset = resultTime_.offsetFromUtc();
  r.faultBits = measurement_.faultBits;
  r.values = measurement_.values;
  r.mode = workMode_;
  r.fuelIndex = uint8_t((settings_.fuelIndex >= 0 && settings_.fuelIndex < kFuelCount) ? settings_.fuelIndex : 0);
  r.address = settings_.address;
  emit resultTaken(r);
}

QString PollCycle::serviceCaption() const {
  const ReplyCollector& r = link_.reply();
  return QStringLiteral(u"Korvex адр:%1 обслуживание %2.%3.%4 наработка %5 часа(ов)")
      .arg(int(settings_.address))
      .arg(int(r[kReplyServiceDay]))
      .arg(int(r[kReplyServiceMonth]))
      .arg(int(replyWord(kReplyServiceYear)))
      .arg(int(replyWord(kReplyRunningHours)));
}

void PollCycle::showProgress() {
  double position = 100;
  if (phaseLength_ > 0) position = 100 - double(phaseLength_ - phaseTick_) / phaseLength_ * 100;
  emit progressChanged(int(std::clamp<int64_t>(roundEven(position), 0, 100)));
}

void PollCycle::handleReply() {
  const ReplyCollector& reply = link_.reply();
  const bool status = reply[kReplyFunction] == 0x04;
  const auto state = AnalyzerState(reply[kReplyState]);

  if (workMode_ == WorkMode::StartUp) {
    analyzerState_ = AnalyzerState::NotConnected;
    return;
  }
  if (!status) {
    // A command's echo: back to status polling.
    requestKind_ = Request::Status;
    return;
  }
  switch (workMode_) {
    case WorkMode::Idle:
      takeFaultTexts();
      emit captionChanged(serviceCaption());
      analyzerState_ = state;
      break;
    case WorkMode::Continuous:
      analyzerState_ = state;
      takeFaultTexts();
      handleContinuous(state);
      break;
    case WorkMode::Single:
    case WorkMode::Cyclic:
      analyzerState_ = state;
      takeFaultTexts();
      handleSingleOrCyclic(state, workMode_ == WorkMode::Cyclic);
      break;
    case WorkMode::Stopping:
      analyzerState_ = state;
      if (state == AnalyzerState::Idle) {
        workMode_ = WorkMode::Idle;
        emit analyzerReady();
      } else if (state == AnalyzerState::Purging) {
        decode();
        emit measurementShown(measurement_);
      }
      break;
    default:
      break;
  }
}

void PollCycle::handleContinuous(AnalyzerState state) {
  switch (state) {
    case AnalyzerState::Idle:
      modeRequest_ = ModeRequest::Continuous;  // the next period starts at the next accepted reply
      break;
    case AnalyzerState::ZeroSetting:
      emit captionChanged(kZeroSettingCaption);
      showProgress();
      // Re-armed on every tick of the zero setting: the period runs from its end.
      modeEndTime_ = seams::now() + double(settings_.calibrationInterval) / 1440;
      break;
    case AnalyzerState::Measuring:
      emit captionChanged(QStringLiteral(u"Korvex: наработка %1 часа(ов)").arg(int(replyWord(kReplyRunningHours))));
      emit progressVisibleChanged(false);
      decode();
      if (refreshCounter_ >= settings_.refreshPeriod) {
        resultTime_ = seams::currentDateTime();
        takeResult();
        refreshCounter_ = 1;
      } else {
        ++refreshCounter_;
      }
      if (seams::now() > modeEndTime_) requestKind_ = Request::Stop;
      break;
    case AnalyzerState::Purging:
      emit captionChanged(QStringLiteral(u"Korvex: подготовка к следующему измерению"));
      break;
    default:
      analyzerState_ = AnalyzerState::NotConnected;
      break;
  }
}

void PollCycle::handleSingleOrCyclic(AnalyzerState state, bool cyclic) {
  switch (state) {
    case AnalyzerState::Idle:
      if (resultPending_) {
        // The row is made from the idle reply, stamped with the last measuring tick.
        resultPending_ = false;
        decode();
        takeResult();
      }
      if (!cyclic) {
        workMode_ = WorkMode::Idle;
        modeRequest_ = ModeRequest::Stop;
        emit modeFinished();
        emit progressVisibleChanged(false);
      } else {
        emit progressVisibleChanged(false);
        const double now = seams::now();
        if (now >= modeEndTime_)
          modeRequest_ = ModeRequest::Cyclic;
        else
          emit captionChanged(QStringLiteral(u"Korvex: до старта %1 секунд(ы)")
                                  .arg(qint64(roundEven((modeEndTime_ - now) * 86400))));
      }
      break;
    case AnalyzerState::ZeroSetting:
      emit captionChanged(kZeroSettingCaption);
      showProgress();
      break;
    case AnalyzerState::Measuring:
      showProgress();
      decode();
      emit measurementShown(measurement_);
      resultPending_ = true;
      resultTime_ = seams::currentDateTime();
      break;
    case AnalyzerState::Purging:
      emit progressVisibleChanged(false);
      emit captionChanged(QStringLiteral(u"Korvex: продувка датчиков чистым воздухом"));
      break;
    default:
      analyzerState_ = AnalyzerState::NotConnected;
      break;
  }
}
