#include "service/session_host.h"

#include <QDir>
#include <QFileInfo>
#include <QThread>
#include <utility>

#include "platform/seams.h"
#include "service/round_reports.h"
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
  audit_ = new AuditKeeper;
  if (options_.helperThreading == Threading::OwnThread) {
    auditThread_ = std::make_unique<QThread>();
    auditThread_->setObjectName(QStringLiteral("audit"));
    auditThread_->start();
    audit_->moveToThread(auditThread_.get());
  }

  AuditKeeper* k = audit_;
  connectKeeper(session_, k, QString());
  connect(session_, &Session::eventKindLogged, k, [k](EventKind kind, const QString& text) { k->onEvent(kind, text); });
  connect(session_, &Session::substitutesEntered, k, &AuditKeeper::recordSubstitutes);
  connect(&settings_, &Settings::written, this,
          [this](const QStringList& paths) { postAudit([paths](AuditKeeper& keeper) { keeper.settingsWritten(paths); }); });
  connect(&access_, &AccessControl::accountsSaved, this, [this] {
    const QString path = access_.accounts().path();
    postAudit([path](AuditKeeper& keeper) { keeper.accountsWritten(path); });
  });
  access_.setTrailCall([this](std::function<void(AuditTrail&)> f) {
    postAudit([f = std::move(f)](AuditKeeper& keeper) { f(keeper.trail()); });
  });

  // The session's reports that the front keeps.
  connect(session_, &Session::notice, this, [this](const Notice& n) { notices_.add(n); });
  connect(session_, &Session::runStateChanged, &settings_, &Settings::setRunState);
  connect(session_, &Session::databaseOpened, this, [this](const QString& path) {
    databasePath_ = path;
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
          [this](ResultReader::Status status, const QVector<emissions::DailyAverage>& days, const QString& why,
                 const QString& trailNote) {
            if (status == ResultReader::Status::NoDatabase) {
              emit reportFailed(why);
              return;
            }
            if (status != ResultReader::Status::Done) return;
            const qint64 cutoff = reportCutoffUtcMs_;
            postTo(reportAnalyzer_, [days, cutoff](Session& s) { s.storeReport(days, cutoff); });
            emissions::EmissionReport report = emissions::EmissionReport::fromDays(days, reportLimits_);
            report.setTrailNote(trailNote);
            emit reportReady(report);
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
  std::vector<AuditKeeper*> keepers = std::exchange(analyzerAudits_, {});
  keepers.push_back(audit_);
  for (AuditKeeper* k : keepers) {
    if (auditThread_)
      QMetaObject::invokeMethod(k, [k] { delete k; }, Qt::BlockingQueuedConnection);
    else
      delete k;
  }
  if (auditThread_) {
    auditThread_->quit();
    auditThread_->wait();
  }
}

void SessionHost::connectKeeper(Session* s, AuditKeeper* k, const QString& whose) {
  // What the session does that the trail records, straight to the keeper's
  // thread, in the order the session did it.
  const QString runAs = options_.runAs;
  connect(s, &Session::databaseMovedAside, k, [k](const QString& to) { k->noteMovedAside(to); });
  connect(s, &Session::databaseOpened, k,
          [k, runAs](const QString& path, bool writable) { k->open(path, writable, runAs); });
  connect(s, &Session::started, k, [k] { k->sealDays(); });
  connectKeeperResults(s, k);
  connect(s, &Session::averagesStored, k, [k](const QDate& from, const QDate& to) {
    k->resealDays(from, to, QStringLiteral(u"отчёт о выбросах"));
  });
  connect(k, &AuditKeeper::opened, s, [s](const QString& path) { s->openAuditCopy(path); });
  connect(k, &AuditKeeper::trailBroken, this, [this, whose](const QString& text) {
    tellStartUp(NoticeTopic::Audit, NoticeLevel::Error, QString(), whose + text, true);
  });
  connect(k, &AuditKeeper::problem, this, [this, whose](const QString& text) {
    tellStartUp(NoticeTopic::Audit, NoticeLevel::Error, QString(), whose + text, false);
  });
}

void SessionHost::connectKeeperResults(Session* s, AuditKeeper* k) {
  const auto onResult = [k](qint64 seq, const Result& r) { k->onResult(seq, r); };
  // With several analyzers once a round, each round's results in one call.
  if (RoundReports* reports = session_->roundReports())
    reports->forward(s, &Session::resultRecorded, k, onResult);
  else
    connect(s, &Session::resultRecorded, k, onResult);
}

void SessionHost::postAudit(std::function<void(AuditKeeper&)> call) {
  AuditKeeper* k = audit_;
  QMetaObject::invokeMethod(k, [k, call = std::move(call)] { call(*k); });
}

void SessionHost::flushAudit() {
  if (thread_) QMetaObject::invokeMethod(session_, [] {}, Qt::BlockingQueuedConnection);
  if (auditThread_) QMetaObject::invokeMethod(audit_, [] {}, Qt::BlockingQueuedConnection);
}

void SessionHost::post(std::function<void(Session&)> call) {
  Session* s = session_;
  // Direct in the session's own thread, queued from any other.
  QMetaObject::invokeMethod(s, [s, call = std::move(call)] { call(*s); });
}

void SessionHost::tellStartUp(NoticeTopic topic, NoticeLevel level, const QString& title, const QString& text,
                              bool beep) {
  const Notice n = Notice::at(seams::currentDateTime(), topic, level, title, text, beep);
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

  QString accountsError;
  if (!access_.load(UserAccounts::defaultPath(), &accountsError))
    tellStartUp(NoticeTopic::Audit, NoticeLevel::Error, QString(),
                QStringLiteral(u"Файл пользователей не читается:\r\n%1\r\nВсе команды недоступны, пока он не исправлен.")
                    .arg(accountsError),
                true);
  auto watched = [](const QString& path, WatchedFile::Kind kind) {
    return WatchedFile{QFileInfo(path).fileName(), path, kind};
  };
  const QVector<WatchedFile> files = {watched(settings_.files().settingsPath(), WatchedFile::Kind::ProgramRecord),
                                      watched(settings_.files().devicePath(), WatchedFile::Kind::DeviceRecord),
                                      watched(settings_.emissionsPath(), WatchedFile::Kind::Ini),
                                      watched(settings_.servicePath(), WatchedFile::Kind::Ini),
                                      watched(UserAccounts::defaultPath(), WatchedFile::Kind::Ini)};
  postAudit([files](AuditKeeper& keeper) { keeper.setWatchedFiles(files); });

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
  s.dailyLogsOwnThread = options_.helperThreading == Threading::OwnThread;
  addAnalyzers(settings_.files().lineAnalyzers(s.measuring));
  started_ = true;
  post([s](Session& session) { session.start(s); });
  for (const Notice& n : std::exchange(startUpNotices_, {})) post([n](Session& session) { session.recordNotice(n); });
}

void SessionHost::addAnalyzers(const QVector<LineAnalyzer>& others) {
  if (others.isEmpty()) return;
  Session* s = session_;
  if (thread_)
    QMetaObject::invokeMethod(s, [s, others] { s->addAnalyzers(others); }, Qt::BlockingQueuedConnection);
  else
    s->addAnalyzers(others);
  analyzerCount_ = s->analyzerCount();
  AuditKeeper* k = audit_;
  disconnect(s, &Session::resultRecorded, k, nullptr);
  connectKeeperResults(s, k);
  for (int i = 1; i < analyzerCount_; ++i) {
    Session* other = s->analyzer(i);
    const QString whose = other->analyzerTitle() + QStringLiteral(": ");
    // The trail is the line's: a further analyzer's events in it say whose they are.
    connect(other, &Session::eventKindLogged, k,
            [k, whose](EventKind kind, const QString& text) { k->onEvent(kind, whose + text); });
    connect(other, &Session::notice, this, [this](const Notice& n) { notices_.add(n); });
    // Its results are in a database of its own: their days are sealed there,
    // in a chain of that database, or a change to them would go unseen.
    auto* own = new AuditKeeper;
    if (auditThread_) own->moveToThread(auditThread_.get());
    analyzerAudits_.push_back(own);
    connectKeeper(other, own, whose);
    // Its substitutes are recorded in the line's trail under its name, and
    // the days they went into sealed again in its own.
    connect(other, &Session::substitutesEntered, k,
            [k, whose](const QString& span, const QString& values, const QString& reason, const QString& who,
                       int count, const QDate&, const QDate&) {
              k->recordSubstitutes(whose + span, values, reason, who, count, QDate(), QDate());
            });
    connect(other, &Session::substitutesEntered, own,
            [own](const QString&, const QString&, const QString&, const QString&, int, const QDate& from,
                  const QDate& to) { own->resealDays(from, to, QStringLiteral(u"замещающие значения")); });
  }
  emit analyzersAdded();
}

void SessionHost::stop() {
  if (stopped_ || !session_) return;
  stopped_ = true;
  historyReader_->close();
  reportReader_->close();
  access_.logout(QStringLiteral(u"остановка программы"));
  Session* s = session_;
  if (thread_)
    QMetaObject::invokeMethod(s, [s] { s->stop(); }, Qt::BlockingQueuedConnection);
  else
    s->stop();
  // After the session: what it recorded last is in the keeper's queue.
  std::vector<AuditKeeper*> keepers = analyzerAudits_;
  keepers.push_back(audit_);
  for (AuditKeeper* k : keepers) {
    if (auditThread_)
      QMetaObject::invokeMethod(k, [k] { k->stop(); }, Qt::BlockingQueuedConnection);
    else
      k->stop();
  }
}

void SessionHost::postTo(int analyzer, std::function<void(Session&)> call) {
  post([analyzer, call = std::move(call)](Session& s) {
    if (analyzer >= 0 && analyzer < s.analyzerCount()) call(*s.analyzer(analyzer));
  });
}

void SessionHost::requestMode(ModeRequest mode, int analyzer) {
  postTo(analyzer, [mode](Session& s) { s.requestMode(mode); });
}
void SessionHost::showToday(int analyzer) {
  postTo(analyzer, [](Session& s) { s.showToday(); });
}
void SessionHost::acknowledgeAlarms(int analyzer) {
  postTo(analyzer, [](Session& s) { s.acknowledgeAlarms(); });
}
void SessionHost::setMaintenance(bool on, int analyzer) {
  const QString who = access_.state().user;
  postTo(analyzer, [on, who](Session& s) { s.setMaintenance(on, who); });
}
void SessionHost::setTestGas(bool on, int analyzer) {
  const QString who = access_.state().user;
  postTo(analyzer, [on, who](Session& s) { s.setTestGas(on, who); });
}
void SessionHost::setPlantOperating(bool operating, int analyzer) {
  const QString who = access_.state().user;
  postTo(analyzer, [operating, who](Session& s) { s.setPlantOperating(operating, who); });
}
void SessionHost::enterSubstitutes(const emissions::SubstituteEntry& entry, int analyzer) {
  const QString who = access_.state().user;
  postTo(analyzer, [entry, who](Session& s) { s.enterSubstitutes(entry, who); });
}
void SessionHost::resetStatistics(int analyzer) {
  postTo(analyzer, [](Session& s) { s.resetStatistics(); });
}
void SessionHost::restartLogDay() { post([](Session& s) { s.restartLogDay(); }); }
void SessionHost::reopenPort() { post([](Session& s) { s.reopenPort(); }); }

void SessionHost::computeReport(const QDate& from, const QDate& to) {
  reportCutoffUtcMs_ = seams::currentDateTime().toMSecsSinceEpoch();
  reportLimits_ = settings_.emissions().limits;
  reportReader_->readReport(from, to, settings_.averagingConfig());
}
