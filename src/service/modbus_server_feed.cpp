#include "service/modbus_server_feed.h"

#include <QDateTime>
#include <QTimeZone>
#include <QTimer>

#include "platform/seams.h"
#include "service/session.h"

using modbus_server::AnalyzerSnapshot;
using modbus_server::AverageSnapshot;
using modbus_server::AnalyzerLinkState;

ModbusServerFeed::ModbusServerFeed(Session& session, QObject* parent) : QObject(parent), session_(session) {
  // The session tells the end of every tick with its run state.
  connect(&session_, &Session::runStateChanged, this, &ModbusServerFeed::schedule);
  connect(&session_, &Session::emissionsChanged, this, &ModbusServerFeed::schedule);
  connect(&session_, &Session::resultRecorded, this, [this] { ++resultCount_; });
}

ModbusServerFeed::~ModbusServerFeed() { stop(); }

void ModbusServerFeed::start(const modbus_server::ServerSettingsLoad& loaded) {
  stop();
  failed_ = false;
  const auto fail = [this](const QString& why) {
    failed_ = true;
    session_.logEvent(EventKind::ModbusServerFailed, QStringLiteral(u"Сервер Modbus TCP не запущен: ") + why);
    emit stateChanged();
  };
  if (!loaded.requested) {
    emit stateChanged();
    return;
  }
  if (!loaded.problems.isEmpty()) return fail(loaded.problems.join(QStringLiteral("; ")));
  server_ = std::make_unique<modbus_server::Server>(loaded.settings);
  connect(server_.get(), &modbus_server::Server::clientRefused, this,
          [this](const QString& text) { session_.logEvent(EventKind::ModbusClientRefused, text); });
  // The unit's values are there before the first client can ask.
  server_->publish(snapshot());
  QString error;
  if (!server_->start(&error)) {
    server_.reset();
    return fail(error);
  }
  session_.logEvent(EventKind::ModbusServerStarted,
                       QStringLiteral(u"Сервер Modbus TCP запущен: %1, прибор — устройство (unit id) %2")
                           .arg(server_->endpoint())
                           .arg(kUnitId));
  emit stateChanged();
}

void ModbusServerFeed::serveOn(modbus_server::Server* server, int unitId) {
  if (shared_) shared_->withdraw(unitId_);
  shared_ = server;
  unitId_ = unitId;
  if (!shared_) return;
  shared_->publish(snapshot());
  session_.logEvent(EventKind::ModbusServerStarted,
                    QStringLiteral(u"Сервер Modbus TCP: прибор — устройство (unit id) %1").arg(unitId));
}

void ModbusServerFeed::stop() {
  if (shared_) {
    shared_->withdraw(unitId_);
    shared_ = nullptr;
  }
  if (!server_) return;
  server_->stop();
  server_.reset();
  session_.logEvent(EventKind::ModbusServerStopped, QStringLiteral(u"Сервер Modbus TCP остановлен"));
  emit stateChanged();
}

QString ModbusServerFeed::stateText() const {
  if (server_) return QStringLiteral("Modbus TCP: ") + server_->endpoint();
  if (failed_) return QStringLiteral(u"Modbus TCP: не запущен");
  return QString();
}

void ModbusServerFeed::schedule() {
  if (scheduled_ || !server()) return;
  scheduled_ = true;
  QTimer::singleShot(0, this, [this] {
    scheduled_ = false;
    publish();
  });
}

void ModbusServerFeed::publish() {
  if (modbus_server::Server* s = server()) s->publish(snapshot());
}

AnalyzerSnapshot ModbusServerFeed::snapshot() {
  AnalyzerSnapshot s;
  s.unitId = unitId_;
  s.resultCount = resultCount_;
  const PollCycle& poll = session_.pollCycle();
  s.analyzerState = poll.analyzerState();
  s.mode = poll.workMode();
  s.faultWord = uint16_t(poll.measurement().faultBits);
  if (!session_.link().isOpen())
    s.link = AnalyzerLinkState::PortClosed;
  else if (poll.analyzerState() == AnalyzerState::NotConnected || poll.silentTicks() >= kSilentTicksLimit)
    s.link = AnalyzerLinkState::NotAnswering;
  else
    s.link = AnalyzerLinkState::Answering;

  const emissions::MonitorState e = session_.emissions().state();
  if (e.lastResult) s.last = modbus_server::LastResultSnapshot{*e.lastResult, e.current, e.o2Ref};
  if (e.running) s.running = modbus_server::averageSnapshot(*e.running, e.limits);
  if (e.lastInterval) s.lastInterval = modbus_server::averageSnapshot(*e.lastInterval, e.limits);
  if (e.today) s.today = modbus_server::averageSnapshot(*e.today, e.limits);
  s.lamp = e.lamp;
  s.intervalMinutes = e.intervalMinutes;
  if (const emissions::EmissionEngine* engine = session_.emissions().engine()) {
    s.alarms = modbus_server::alarmsSnapshot(engine->alarms());
    if (engine->lastCompletedDay()) {
      s.previousDay = modbus_server::averageSnapshot(*engine->lastCompletedDay(), e.limits);
    } else {
      const QDate today = engine->day().isValid() ? engine->day() : seams::currentDateTime().date();
      s.previousDay = storedPreviousDay(today, e.intervalMinutes);
    }
  }
  return s;
}

std::optional<AverageSnapshot> ModbusServerFeed::storedPreviousDay(const QDate& today, int intervalMinutes) {
  if (today == previousDayFor_ && intervalMinutes == previousDayMinutes_) return previousDay_;
  previousDayFor_ = today;
  previousDayMinutes_ = intervalMinutes;
  previousDay_.reset();
  const emissions::AveragingConfig& c = session_.emissions().engine()->config();
  const qint64 from = QDateTime(today.addDays(-1), QTime(0, 0), c.zone).toMSecsSinceEpoch();
  const qint64 to = QDateTime(today, QTime(0, 0), c.zone).toMSecsSinceEpoch();
  const QVector<StoredAverage> stored =
      session_.store().averages(AveragePeriodKind::Day, intervalMinutes, from, to, int(c.validation.profile));
  if (!stored.isEmpty()) previousDay_ = modbus_server::averageSnapshot(stored.last());
  return previousDay_;
}
