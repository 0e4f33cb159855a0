#include "service/settings.h"

#include <QDir>
#include <QFileInfo>
#include <QTimeZone>
#include <algorithm>

#include "platform/seams.h"

Settings::Settings(QObject* parent) : QObject(parent) {}

bool Settings::load() {
  const bool whole = files_.load();
  measuring_ = files_.measuring();
  view_ = files_.view();
  print_ = files_.print();
  return whole;
}

bool Settings::resetToDefaults() {
  files_.reset();
  measuring_ = files_.measuring();
  view_ = files_.view();
  print_ = files_.print();
  // The device file's state stays as it was read: no run has been yet.
  return save(false);
}

QString Settings::emissionsPath() const {
  const QFileInfo exe(seams::executablePath());
  return exe.absoluteDir().filePath(exe.completeBaseName() + QStringLiteral("-emissions.ini"));
}

QString Settings::servicePath() const { return publish::defaultServiceSettingsPath(); }

emissions::SettingsLoad Settings::loadEmissions() {
  emissions::SettingsLoad load = emissions::loadEmissionSettings(emissionsPath());
  emissions_ = load.settings;
  return load;
}

publish::ServiceSettingsLoad Settings::loadService() {
  publish::ServiceSettingsLoad load = publish::loadServiceSettings(servicePath());
  service_ = load.settings;
  return load;
}

emissions::AveragingConfig Settings::averagingConfig() const {
  return emissions_.averaging(std::max(1, int(measuring_.refreshPeriod)), QTimeZone::systemTimeZone(),
                              o2References(fuels_));
}

bool Settings::setLineAnalyzers(const QVector<QPair<int, int>>& analyzers, QString* error) {
  QStringList paths;
  bool ok = true;
  for (int slot = 2; slot <= kSlotCount && ok; ++slot) {
    int address = 0;
    for (const auto& [s, a] : analyzers)
      if (s == slot) address = a;
    const QString path = deviceFilePath(files_.settingsPath(), slot);
    if (address == 0 && !QFileInfo::exists(path)) continue;
    ok = address > 0 ? files_.addLineAnalyzer(slot, uint8_t(address), error) : files_.removeLineAnalyzer(slot, error);
    paths << path;
  }
  if (!paths.isEmpty()) emit written(paths);
  return ok;
}

bool Settings::save(bool withRunState) {
  if (withRunState) {
    RunState state = runState_;
    state.address = measuring_.address;
    state.fuelIndex = fuelIndex_;
    files_.setRunState(state);
  }
  if (!files_.save()) {
    emit saveFailed();
    return false;
  }
  emit saved();
  emit written({files_.settingsPath(), files_.devicePath()});
  return true;
}

bool Settings::setMeasuring(const MeasuringSettings& settings) {
  if (!files_.setMeasuring(settings)) return false;
  measuring_ = files_.measuring();
  emit measuringChanged(measuring_);
  return save();
}

bool Settings::setView(const ViewSettings& settings) {
  files_.setView(settings);
  view_ = files_.view();
  emit viewChanged(view_);
  return save();
}

bool Settings::setPrint(const PrintSettings& settings) {
  if (!files_.setPrint(settings)) return false;
  print_ = files_.print();
  emit printChanged(print_);
  return save();
}

bool Settings::setFuels(const FuelTable& fuels, int fuelIndex) {
  fuels_ = fuels;
  fuelIndex_ = std::clamp(fuelIndex, 0, kFuelCount - 1);
  emit fuelsChanged(fuels_, fuelIndex_);
  return save();
}

void Settings::nameOwnFuel(const QString& name) {
  if (fuels_[kFuelCount - 1].name == name) return;
  fuels_[kFuelCount - 1].name = name;
  emit fuelsChanged(fuels_, fuelIndex_);
}

bool Settings::setEmissions(const emissions::EmissionSettings& settings, QString* error) {
  if (!emissions::saveEmissionSettings(emissionsPath(), settings, error)) return false;
  emissions_ = settings;
  emit emissionsChanged(emissions_);
  emit written({emissionsPath()});
  return true;
}

bool Settings::setService(const publish::ServiceSettings& settings, QString* error) {
  if (!publish::saveServiceSettings(servicePath(), settings, error)) return false;
  service_ = settings;
  emit serviceChanged(service_);
  emit written({servicePath()});
  return true;
}

void Settings::setRunState(const RunState& state) { runState_ = state; }
