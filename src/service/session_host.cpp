#include "service/session_host.h"

#include <QDir>
#include <QThread>
#include <utility>

#include "platform/seams.h"
#include "storage/settings_records.h"

SessionHost::SessionHost(Options options, QObject* parent)
    : QObject(parent),
      options_(std::move(options)),
      historyReader_(std::make_unique<ResultReader>()),
      reportReader_(std::make_unique<ResultReader>()) {
  if (options_.threading == Threading::OwnThread) {
    thread_ = std::make_unique<QThread>();
    thread_->setObjectName(QStringLiteral("session"));
    thread_->start();
    // Made in its own thread, so that everything it makes belongs there.
    auto* context = new QObject;
    context->moveToThread(thread_.get());
    QMetaObject::invokeMethod(context, [this] { session_ = new Session; }, Qt::BlockingQueuedConnection);
    context->deleteLater();
  } else {
    session_ = new Session;
  }

  // The session's reports that the front keeps.
  connect(session_, &Session::notice, this, [this](const Notice& n) { notices_.add(n); });
  connect(session_, &Session::runStateChanged, &settings_, &Settings::setRunState);
  connect(session_, &Session::databaseOpened, this, [this](const QString& path) {
    historyReader_->setDatabase(path);
    reportReader_->setDatabase(path);
  });

  // Changed settings go to the session as values; their files were written
  // by the settings object already.
  connect(&settings_, &Settings::measuringChanged, this,
          [this](const MeasuringSettings& m) { post([m](Session& s) { s.setMeasuring(m); }); });
  connect(&settings_, &Settings::fuelsChanged, this,
          [this](const FuelTable& f, int index) { post([f, index](Session& s) { s.setFuels(f, index); }); });
  connect(&settings_, &Settings::emissionsChanged, this, [this](const emissions::EmissionSettings& e) {
    post([e](Session& s) { s.setEmissionSettings(e); });
  });
  connect(&settings_, &Settings::serviceChanged, this, [this](const publish::ServiceSettings& v) {
    post([v](Session& s) { s.setServiceSettings(v); });
  });
  connect(&settings_, &Settings::saved, this, [this] {
    post([](Session& s) { s.logEvent(EventKind::SettingsApplied, QStringLiteral(u"Настройки изменены")); });
  });
  connect(&settings_, &Settings::saveFailed, this, [this] {
    tellStartUp(NoticeTopic::Settings, NoticeLevel::Error, QString(),
                QStringLiteral(u"Ошибка доступа к диску!\r\nПерезагрузите компьютер!"), true);
  });

  connect(reportReader_.get(), &ResultReader::reportFinished, this,
          [this](ResultReader::Status status, const QVector<emissions::DailyAverage>& days, const QString& why) {
            if (status == ResultReader::Status::NoDatabase) {
              emit reportFailed(why);
              return;
            }
            if (status != ResultReader::Status::Done) return;
            const qint64 cutoff = reportCutoffUtcMs_;
            post([days, cutoff](Session& s) { s.storeReport(days, cutoff); });
            emit reportReady(emissions::EmissionReport::fromDays(days, reportLimits_));
          });
}

SessionHost::~SessionHost() {
  stop();
  historyReader_.reset();
  reportReader_.reset();
  if (thread_) {
    Session* s = session_;
    QMetaObject::invokeMethod(s, [s] { delete s; }, Qt::BlockingQueuedConnection);
    thread_->quit();
    thread_->wait();
  } else {
    delete session_;
  }
}

void SessionHost::post(std::function<void(Session&)> call) {
  Session* s = session_;
  // Direct in the session's own thread, queued from any other.
  QMetaObject::invokeMethod(s, [s, call = std::move(call)] { call(*s); });
}

void SessionHost::tellStartUp(NoticeTopic topic, NoticeLevel level, const QString& title, const QString& text,
                              bool beep) {
  const QDateTime now = seams::currentDateTime();
  Notice n;
  n.utcMs = now.toMSecsSinceEpoch();
  n.utcOffset = now.offsetFromUtc();
  n.topic = topic;
  n.level = level;
  n.title = title;
  n.text = text;
  n.beep = beep;
  notices_.add(n);
  if (started_ && startUpNotices_.isEmpty() && session_)
    post([n](Session& s) { s.recordNotice(n); });
  else
    startUpNotices_.append(n);
}

void SessionHost::start() {
  if (started_ || stopped_) return;
  // Notices until the session is started wait for its event log.
  if (!settings_.load()) {
    tellStartUp(NoticeTopic::Settings, NoticeLevel::Error, QString(),
                QStringLiteral(u"Файл конфигурации отсутствует!\r\nСброс конфигурации!"), true);
    settings_.resetToDefaults();
  }
  const emissions::SettingsLoad emissionLoad = settings_.loadEmissions();
  QString emissionProblem;
  switch (emissionLoad.status) {
    case emissions::SettingsStatus::Loaded:
    case emissions::SettingsStatus::Missing:  // a new installation: no limits yet
      break;
    case emissions::SettingsStatus::Unreadable:
      emissionProblem = QStringLiteral(u"Файл нормативов выбросов не читается:\r\n%1\r\n"
                                       u"Действуют значения по умолчанию (без нормативов).");
      break;
    case emissions::SettingsStatus::Broken:
      emissionProblem = QStringLiteral(u"Файл нормативов выбросов повреждён:\r\n%1\r\n"
                                       u"Действуют значения по умолчанию (без нормативов).");
      break;
    case emissions::SettingsStatus::InvalidValues:
      emissionProblem = QStringLiteral(u"В файле нормативов выбросов неверные значения:\r\n%1\r\n"
                                       u"Вместо них действуют значения по умолчанию: ") +
                        emissionLoad.problems.join(QStringLiteral("; "));
      break;
  }
  if (!emissionProblem.isEmpty())
    tellStartUp(NoticeTopic::EmissionSettings, NoticeLevel::Warning, QString(),
                emissionProblem.arg(QDir::toNativeSeparators(settings_.emissionsPath())), true);
  const publish::ServiceSettingsLoad serviceLoad = settings_.loadService();
  // Without the file nothing is published: the usual case, nothing to say.
  if (serviceLoad.status != publish::ServiceSettingsStatus::Missing && !serviceLoad.message().isEmpty())
    tellStartUp(NoticeTopic::Publishing, NoticeLevel::Warning, QString(), serviceLoad.message(), false);

  SessionStart s;
  s.measuring = settings_.measuring();
  if (!options_.port.isEmpty()) {
    // For this run only: the settings file keeps its port.
    ShortString30 port{};
    if (setShortString(port, options_.port))
      s.measuring.portName = shortStringText(port);
    else
      tellStartUp(NoticeTopic::Settings, NoticeLevel::Warning, QString(),
                  QStringLiteral(u"Имя порта длиннее 30 знаков: %1").arg(options_.port), false);
  }
  s.fuels = settings_.fuels();
  s.fuelIndex = settings_.fuelIndex();
  s.emissions = settings_.emissions();
  s.service = settings_.service();
  s.modbusServer = modbus_server::loadServerSettings(settings_.servicePath());
  if (options_.modeGiven) {
    s.mode = options_.mode;
  } else if (options_.modeFromServiceSettings) {
    bool ok = false;
    s.mode = modeFromName(settings_.service().mode, &ok);
  }
  s.pollIntervalMs = options_.pollIntervalMs;
  started_ = true;
  post([s](Session& session) { session.start(s); });
  for (const Notice& n : std::exchange(startUpNotices_, {})) post([n](Session& session) { session.recordNotice(n); });
}

void SessionHost::stop() {
  if (stopped_ || !session_) return;
  stopped_ = true;
  historyReader_->cancel();
  reportReader_->cancel();
  Session* s = session_;
  if (thread_)
    QMetaObject::invokeMethod(s, [s] { s->stop(); }, Qt::BlockingQueuedConnection);
  else
    s->stop();
}

void SessionHost::requestMode(ModeRequest mode) { post([mode](Session& s) { s.requestMode(mode); }); }
void SessionHost::acknowledgeAlarms() { post([](Session& s) { s.acknowledgeAlarms(); }); }
void SessionHost::resetStatistics() { post([](Session& s) { s.resetStatistics(); }); }
void SessionHost::restartLogDay() { post([](Session& s) { s.restartLogDay(); }); }
void SessionHost::reopenPort() { post([](Session& s) { s.reopenPort(); }); }

void SessionHost::computeReport(const QDate& from, const QDate& to) {
  reportCutoffUtcMs_ = seams::currentDateTime().toMSecsSinceEpoch();
  reportLimits_ = settings_.emissions().limits;
  reportReader_->readReport(from, to, settings_.averagingConfig());
}
