#include "emissions/result_status.h"

#include <cmath>

namespace emissions {

namespace {

bool holdsCode(const Result& r, int ch) {
  const double v = r[ch];
  return !std::isfinite(v) || specialCode(ch, v) != SpecialCode::None;
}

// The measured channels a component's value comes from.
bool componentHoldsCode(const Result& r, Component c) {
  switch (c) {
    case Component::CO:
      return holdsCode(r, channel::CO);
    case Component::NOx:
      return holdsCode(r, channel::NO) || holdsCode(r, channel::NO2);
    case Component::SO2:
      return holdsCode(r, channel::SO2);
    case Component::H2S:
      return holdsCode(r, channel::H2S);
  }
  return false;
}

double componentReading(const Result& r, Component c) {
  switch (c) {
    case Component::CO:
      return r[channel::CO];
    case Component::NOx:
      return r[channel::NO] + r[channel::NO2];
    case Component::SO2:
      return r[channel::SO2];
    case Component::H2S:
      return r[channel::H2S];
  }
  return 0;
}

}  // namespace

ResultStatus contentsStatus(const Result& r, const ValidationConfig& v) {
  if (r.faultBits != 0 || holdsCode(r, channel::O2)) return ResultStatus::Fault;
  bool outside = false;
  for (Component c : kComponents) {
    const bool code = componentHoldsCode(r, c);
    if (code && v.monitored[size_t(index(c))]) return ResultStatus::Fault;
    if (!code && v.calibration[size_t(index(c))].outside(componentReading(r, c))) outside = true;
  }
  return outside ? ResultStatus::OutOfRange : ResultStatus::Valid;
}

ResultStatus decideStatus(const Result& r, const StatusInputs& in, const ValidationConfig& v) {
  if (in.analyzerState == AnalyzerState::ZeroSetting || in.testGas) return ResultStatus::Test;
  if (!in.plantOperating) return ResultStatus::PlantOff;
  const ResultStatus contents = contentsStatus(r, v);
  if (contents == ResultStatus::Fault) return ResultStatus::Fault;
  if (in.maintenance) return ResultStatus::Maintenance;
  if (in.substitute) return ResultStatus::Substitute;
  return contents;
}

bool PlantOperation::observe(qint64 utcMs, double o2) {
  if (rule_.source != PlantRule::Source::O2) return operating();
  if (!std::isfinite(o2) || specialCode(channel::O2, o2) != SpecialCode::None) return operating();
  if (!(o2 > rule_.o2AbovePercent)) {
    state_ = State::Operating;
    return true;
  }
  if (state_ == State::Operating || utcMs < highSinceUtcMs_) {
    // The watch starts; a clock set back starts it again rather than stretch it.
    state_ = State::O2High;
    highSinceUtcMs_ = utcMs;
  }
  if (state_ == State::O2High && utcMs - highSinceUtcMs_ >= qint64(rule_.minutes) * 60 * 1000)
    state_ = State::NotOperating;
  return operating();
}

bool PlantOperation::operating() const {
  switch (rule_.source) {
    case PlantRule::Source::None:
      return true;
    case PlantRule::Source::Switch:
      return switch_;
    case PlantRule::Source::O2:
      return state_ != State::NotOperating;
  }
  return true;
}

QString statusCode(ResultStatus s) {
  switch (s) {
    case ResultStatus::Valid:
      return QStringLiteral(u"Д");
    case ResultStatus::OutOfRange:
      return QStringLiteral(u"ВД");
    case ResultStatus::Substitute:
      return QStringLiteral(u"З");
    case ResultStatus::Maintenance:
      return QStringLiteral(u"ТО");
    case ResultStatus::Fault:
      return QStringLiteral(u"НП");
    case ResultStatus::PlantOff:
      return QStringLiteral(u"ОСТ");
    case ResultStatus::Test:
      return QStringLiteral(u"ТЕСТ");
  }
  return QStringLiteral("?");
}

QString statusTitle(ResultStatus s) {
  switch (s) {
    case ResultStatus::Valid:
      return QStringLiteral(u"достоверно");
    case ResultStatus::OutOfRange:
      return QStringLiteral(u"вне диапазона калибровки");
    case ResultStatus::Substitute:
      return QStringLiteral(u"замещающее значение");
    case ResultStatus::Maintenance:
      return QStringLiteral(u"техобслуживание");
    case ResultStatus::Fault:
      return QStringLiteral(u"неисправность газоанализатора");
    case ResultStatus::PlantOff:
      return QStringLiteral(u"установка не работает");
    case ResultStatus::Test:
      return QStringLiteral(u"проверка (установка нуля, поверочный газ)");
  }
  return QStringLiteral(u"неизвестный статус");
}

QString invalidReasonTitle(InvalidReason r) {
  switch (r) {
    case InvalidReason::Fault:
      return QStringLiteral(u"неисправность");
    case InvalidReason::Maintenance:
      return QStringLiteral(u"техобслуживание");
    case InvalidReason::PlantOff:
      return QStringLiteral(u"установка не работает");
    case InvalidReason::LinkLost:
      return QStringLiteral(u"нет связи");
    case InvalidReason::Test:
      return QStringLiteral(u"проверка");
    case InvalidReason::NoValue:
      return QStringLiteral(u"нет значения");
  }
  return {};
}

}  // namespace emissions
