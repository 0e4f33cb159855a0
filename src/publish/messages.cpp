#include "publish/messages.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>

#include "emissions/conversion.h"
#include "emissions/result_status.h"

namespace publish {

QString topic(const AnalyzerIdentity& id, const QString& leaf) {
  return QStringLiteral("korvex/%1/%2/%3").arg(id.site, id.name, leaf);
}

QString codeName(int ch, double value) {
  switch (specialCode(ch, value)) {
    case SpecialCode::Overload:
      return QStringLiteral("overload");
    case SpecialCode::Error:
      return QStringLiteral("error");
    case SpecialCode::NoValue:
      return QStringLiteral("novalue");
    case SpecialCode::None:
      break;
  }
  return std::isfinite(value) ? QString() : QStringLiteral("invalid");
}

const char* modeName(WorkMode mode) {
  switch (mode) {
    case WorkMode::Idle:
      return "idle";
    case WorkMode::Continuous:
      return "continuous";
    case WorkMode::Single:
      return "single";
    case WorkMode::Cyclic:
      return "cyclic";
    case WorkMode::Stopping:
      return "stopping";
    case WorkMode::StartUp:
      return "startup";
  }
  return "unknown";
}

const char* statusName(ResultStatus status) {
  switch (status) {
    case ResultStatus::Valid:
      return "valid";
    case ResultStatus::OutOfRange:
      return "outOfRange";
    case ResultStatus::Substitute:
      return "substitute";
    case ResultStatus::Maintenance:
      return "maintenance";
    case ResultStatus::Fault:
      return "fault";
    case ResultStatus::PlantOff:
      return "plantOff";
    case ResultStatus::Test:
      return "test";
  }
  return "unknown";
}

const char* eventKindName(EventKind kind) {
  switch (kind) {
    case EventKind::LinkLost:
      return "linkLost";
    case EventKind::LinkBack:
      return "linkBack";
    case EventKind::ModeStarted:
      return "modeStarted";
    case EventKind::ModeEnded:
      return "modeEnded";
    case EventKind::FaultsAppeared:
      return "faultsAppeared";
    case EventKind::FaultsCleared:
      return "faultsCleared";
    case EventKind::DailyLogWritten:
      return "dailyLogWritten";
    case EventKind::DailyLogFailed:
      return "dailyLogFailed";
    case EventKind::SettingsApplied:
      return "settingsApplied";
    case EventKind::PortReopened:
      return "portReopened";
    case EventKind::PortOpened:
      return "portOpened";
    case EventKind::Alarm:
      return "alarm";
    case EventKind::AlarmAcknowledged:
      return "alarmAcknowledged";
    case EventKind::PortOpenFailed:
      return "portOpenFailed";
    case EventKind::DatabaseProblem:
      return "databaseProblem";
    case EventKind::SettingsProblem:
      return "settingsProblem";
    case EventKind::DataWriteFailed:
      return "dataWriteFailed";
    case EventKind::PublishingProblem:
      return "publishingProblem";
    case EventKind::AuditProblem:
      return "auditProblem";
    case EventKind::ResultsRecovered:
      return "resultsRecovered";
    case EventKind::MaintenanceOn:
      return "maintenanceOn";
    case EventKind::MaintenanceOff:
      return "maintenanceOff";
    case EventKind::PlantSwitchedOn:
      return "plantSwitchedOn";
    case EventKind::PlantSwitchedOff:
      return "plantSwitchedOff";
    case EventKind::TestGasOn:
      return "testGasOn";
    case EventKind::TestGasOff:
      return "testGasOff";
    case EventKind::SubstitutesEntered:
      return "substitutesEntered";
    case EventKind::ModbusServerStarted:
      return "modbusServerStarted";
    case EventKind::ModbusServerStopped:
      return "modbusServerStopped";
    case EventKind::ModbusServerFailed:
      return "modbusServerFailed";
    case EventKind::ModbusClientRefused:
      return "modbusClientRefused";
    case EventKind::StoreDamaged:
      return "storeDamaged";
    case EventKind::StoreIdentityRenewed:
      return "storeIdentityRenewed";
    case EventKind::PublishConflict:
      return "publishConflict";
    case EventKind::DiskSpaceLow:
      return "diskSpaceLow";
  }
  return "unknown";
}

QString utcText(qint64 utcMs) {
  return QDateTime::fromMSecsSinceEpoch(utcMs, Qt::UTC).toString(Qt::ISODateWithMs);
}

namespace {

QJsonValue number(const std::optional<double>& v) {
  return v && std::isfinite(*v) ? QJsonValue(*v) : QJsonValue(QJsonValue::Null);
}

}  // namespace

QByteArray resultJson(const StoredResult& stored, const AnalyzerIdentity& id,
                      const std::vector<double>& o2RefByFuel) {
  const Result& r = stored.result;
  // As decided, raised by what the result shows (all a result stored before
  // statuses were kept has).
  const ResultStatus status = emissions::storedStatus(r, emissions::ValidationConfig{});
  QJsonObject channels;
  for (int ch = 0; ch < kChannelCount; ++ch) {
    const double v = r[ch];
    const QString code = codeName(ch, v);
    QJsonObject c{{QStringLiteral("unit"), QLatin1String(channel::kUnits[ch])}};
    if (code.isEmpty()) {
      c.insert(QStringLiteral("value"), v);
    } else {
      c.insert(QStringLiteral("value"), QJsonValue::Null);
      c.insert(QStringLiteral("code"), code);
    }
    channels.insert(QLatin1String(channel::kNames[ch]), c);
  }
  QJsonObject emissionValues{{QStringLiteral("unit"), QStringLiteral("mg/m3")}};
  const bool haveRef = r.fuelIndex < o2RefByFuel.size();
  emissionValues.insert(QStringLiteral("o2Ref"), haveRef ? QJsonValue(o2RefByFuel[r.fuelIndex]) : QJsonValue());
  const emissions::EmissionValues values = emissions::convert(r, o2RefByFuel);
  for (emissions::Component c : emissions::kComponents)
    emissionValues.insert(QLatin1String(emissions::componentName(c)), number(values[size_t(emissions::index(c))]));

  const QJsonObject doc{
      {QStringLiteral("seq"), stored.seq},
      {QStringLiteral("store"), stored.storeId},
      {QStringLiteral("site"), id.site},
      {QStringLiteral("analyzer"), id.name},
      {QStringLiteral("address"), int(r.address)},
      {QStringLiteral("time"), utcText(r.utcMs)},
      {QStringLiteral("utcOffset"), r.utcOffset},
      {QStringLiteral("mode"), QLatin1String(modeName(r.mode))},
      {QStringLiteral("fuel"), int(r.fuelIndex)},
      {QStringLiteral("faultBits"), r.faultBits},
      {QStringLiteral("status"), QLatin1String(statusName(status))},
      {QStringLiteral("channels"), channels},
      {QStringLiteral("emissions"), emissionValues},
  };
  return QJsonDocument(doc).toJson(QJsonDocument::Compact);
}

QByteArray eventJson(const StoredEvent& e, const AnalyzerIdentity& id) {
  const QJsonObject doc{
      {QStringLiteral("id"), e.id},
      {QStringLiteral("store"), e.storeId},
      {QStringLiteral("site"), id.site},
      {QStringLiteral("analyzer"), id.name},
      {QStringLiteral("time"), utcText(e.utcMs)},
      {QStringLiteral("utcOffset"), e.utcOffset},
      {QStringLiteral("kind"), QLatin1String(eventKindName(e.kind))},
      {QStringLiteral("kindCode"), int(e.kind)},
      {QStringLiteral("text"), e.text},
  };
  return QJsonDocument(doc).toJson(QJsonDocument::Compact);
}

}  // namespace publish
