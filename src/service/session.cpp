#include "service/session.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <QTimeZone>
#include <QTimer>
#include <algorithm>
#include <utility>

#include "acquisition/line_scheduler.h"
#include "acquisition/state_texts.h"
#include "data/recovery_file.h"
#include "platform/seams.h"
#include "platform/timer.h"
#include "service/round_reports.h"
#include "storage/settings_files.h"

namespace {

QString modeName(WorkMode mode) {
  switch (mode) {
    case WorkMode::Continuous: return QStringLiteral(u"непрерывное измерение");
    case WorkMode::Single: return QStringLiteral(u"однократное измерение");
    case WorkMode::Cyclic: return QStringLiteral(u"циклическое измерение");
    default: return QString();
  }
}

const QString kAnalyzerLostText =
    QStringLiteral(u"ВНИМАНИЕ!\r\nСБОЙ В РАБОТЕ ПРИБОРА!\r\nПРОВЕРТЕ ПОДКЛЮЧЕНИЕ И ПИТАНИЕ!");
const QString kDataWriteText =
    QStringLiteral(u"Ошибка записи данных!\r\nЗакройте лишние приложения или перезагрузите компьютер!");

// Notices the event log records under a kind of their own; the others have
// their own events already (the link lost, the daily log failed).
std::optional<EventKind> eventKindOf(NoticeTopic topic) {
  switch (topic) {
    case NoticeTopic::Port: return EventKind::PortOpenFailed;
    case NoticeTopic::Database: return EventKind::DatabaseProblem;
    case NoticeTopic::Settings:
    case NoticeTopic::EmissionSettings: return EventKind::SettingsProblem;
    case NoticeTopic::Publishing: return EventKind::PublishingProblem;
    case NoticeTopic::Audit: return EventKind::AuditProblem;
    case NoticeTopic::Analyzer:
    case NoticeTopic::DataWrite: return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace

ModeRequest modeFromName(const QString& name, bool* ok) {
  *ok = true;
  const QString n = name.toLower();
  if (n == QLatin1String("continuous")) return ModeRequest::Continuous;
  if (n == QLatin1String("single")) return ModeRequest::Single;
  if (n == QLatin1String("cyclic")) return ModeRequest::Cyclic;
  if (n == QLatin1String("none")) return ModeRequest::None;
  *ok = false;
  return ModeRequest::None;
}

Session::Session(QObject* parent) : Session(nullptr, 1, parent) {}

Session::Session(Session* line, int slot, QObject* parent)
    : QObject(parent),
      line_(line),
      slot_(slot),
      ownLink_(line ? nullptr : std::make_unique<AnalyzerLink>()),
      link_(line ? line->link_ : *ownLink_),
      poll_(link_),
      dailyLogs_(store_, [this](EventKind kind, const QString& text) { logEvent(kind, text); }),
      monitor_(store_, [this](EventKind kind, const QString& text) { logEvent(kind, text); }),
      publishing_(store_),
      pollTimer_(new Timer(1000, this)),
      retryTimer_(new Timer(60000, this)),
      quickTimer_(new Timer(kQuickTickMs, this)),
      modbusFeed_(*this) {
  connect(pollTimer_, &Timer::timeout, this, &Session::onTimer);
  connect(quickTimer_, &Timer::timeout, this, [this] {
    quickTimer_->setEnabled(false);
    // The regular ticks go on a period after this one.
    pollTimer_->setEnabled(false);
    pollTimer_->setEnabled(true);
    onTimer();
  });
  // At start the analyzer's answers are taken as they come, not a second
  // apart: the stop's echo, the state, the ready analyzer's caption. A
  // program back after a crash or a logout measures again within a second.
  if (!line_)
    connect(&link_, &AnalyzerLink::replyComplete, this, [this] {
      if (quickTicksLeft_ <= 0 || !pollTimer_->isEnabled()) return;
      --quickTicksLeft_;
      quickTimer_->setEnabled(true);
    });
  connect(&pageCheck_, &PageCheck::damageFound, this, &Session::onDamageFound);
  connect(&pageCheck_, &PageCheck::finished, this, [this](const QStringList& problems) {
    for (const QString& problem : problems)
      tell(NoticeTopic::Database, NoticeLevel::Warning, QString(), problemText(DatabaseProblem::Damaged, problem), true);
  });
  connect(retryTimer_, &Timer::timeout, this, &Session::retryDailyLogs);
  connect(&dailyLogs_, &DailyLogs::failedFirst, this, [this] { tellDataWriteFailure(); });
  connect(&poll_, &PollCycle::resultTaken, this, &Session::onResultTaken);
  connect(&poll_, &PollCycle::dayEnded, this, &Session::onDayEnded);
  connect(&poll_, &PollCycle::linkLost, this, &Session::onLinkLost);
  connect(&poll_, &PollCycle::analyzerReady, this, &Session::onAnalyzerReady);
  connect(&poll_, &PollCycle::modeFinished, this, [this] {
    // A single measurement is over: nothing to keep going.
    if (wanted_ == ModeRequest::Single) setWanted(ModeRequest::None);
  });
  connect(&poll_, &PollCycle::stateTextChanged, this, &Session::stateTextChanged);
  connect(&poll_, &PollCycle::captionChanged, this, &Session::captionChanged);
  connect(&poll_, &PollCycle::measurementShown, this, &Session::measurementShown);
  connect(&poll_, &PollCycle::progressChanged, this, &Session::progressChanged);
  connect(&poll_, &PollCycle::progressVisibleChanged, this, &Session::progressVisibleChanged);
  connect(&poll_, &PollCycle::linkAlarmChanged, this, &Session::linkAlarmChanged);
  connect(&poll_, &PollCycle::statisticsChanged, this, [this] { emit statisticsChanged(poll_.statistics()); });
  if (!line_) {
    connect(&link_, &AnalyzerLink::openFinished, this, &Session::onOpenFinished);
    connect(&link_, &AnalyzerLink::reopened, this, [this] {
      logEvent(EventKind::PortReopened, QStringLiteral(u"Порт открыт снова: %1").arg(measuring_.portName));
    });
    connect(&link_, &AnalyzerLink::openedLater, this, [this] {
      logEvent(EventKind::PortOpened, QStringLiteral(u"Порт открыт: %1").arg(measuring_.portName));
    });
  }
  connect(&poll_, &PollCycle::linkAlarmChanged, this, [this](bool alarm) {
    if (alarm)
      logEvent(EventKind::LinkLost, QStringLiteral(u"Прибор не отвечает"));
    else
      logEvent(EventKind::LinkBack, QStringLiteral(u"Связь с прибором восстановлена"));
  });
  connect(&poll_, &PollCycle::modeStarted, this, [this](WorkMode mode) {
    logEvent(EventKind::ModeStarted, QStringLiteral(u"Начато: ") + modeName(mode));
  });
  connect(&poll_, &PollCycle::analyzerReady, this, [this] {
    logEvent(EventKind::ModeEnded, QStringLiteral(u"Прибор в ожидании"));
  });
  connect(&poll_, &PollCycle::faultWordChanged, this, [this](quint16 word) {
    if (word == 0) {
      logEvent(EventKind::FaultsCleared, QStringLiteral(u"Неисправностей нет"));
      return;
    }
    QString texts;
    buildFaultText(word, texts);
    texts.replace(QStringLiteral("\r\n"), QStringLiteral("; "));
    logEvent(EventKind::FaultsAppeared,
             QStringLiteral(u"Неисправности: %1 (%2)").arg(word, 4, 16, QLatin1Char('0')).toUpper().arg(texts));
  });
  // The rows appended are derived with the fuel table in force here.
  store_.setFuels(fuels_.data());
  // Damage a read met: no average over it, at once; into the event log and
  // to the operator once the read is over.
  store_.setDamageObserver([this](const UnreadableSpan& span) {
    monitor_.addUnreadable(span);
    QTimer::singleShot(0, this, [this, span] { onDamageFound(span); });
  });
  connect(&publishing_, &Publishing::message, this, &Session::onPublishingMessage);
  connect(&publishing_, &Publishing::stateChanged, this,
          [this] { emit publishingChanged(publishingText()); });
  connect(&modbusFeed_, &ModbusServerFeed::stateChanged, this, [this] { emit publishingChanged(publishingText()); });
}

Session::~Session() {
  // Before the line they share goes.
  delete scheduler_;
  scheduler_ = nullptr;  // what the others report meanwhile is no round's
  for (Session* other : others_) delete other;
  pageCheck_.stop();
  publishing_.stop();
  publishing_.setAuditTrail(nullptr);
  auditCopy_.close();
  modbusFeed_.stop();
  dailyLogs_.finish();
  if (!store_.isOpen()) return;
  store_.flushPending();
  keepUncommitted();
  store_.close();
}

void Session::onDamageFound(const UnreadableSpan& span) {
  monitor_.addUnreadable(span);
  logEvent(EventKind::StoreDamaged, QStringLiteral(u"База данных результатов повреждена: не читаются ") + span.text() +
                                        QStringLiteral(" (") + span.error + QLatin1Char(')'));
  // Its own event is logged already.
  tell(NoticeTopic::Database, NoticeLevel::Warning, QString(), problemText(DatabaseProblem::Damaged, span.text()), true,
       false);
}

// ---------------------------------------------------------------------------
// Start-up

void Session::start(const SessionStart& s) {
  if (started_) return;
  started_ = true;
  fuels_ = s.fuels;
  // A further analyzer has its own since it was added.
  if (!line_) {
    measuring_ = s.measuring;
    fuelIndex_ = s.fuelIndex;
  }
  openDatabase();
  if (!line_) openPort();
  dailyLogs_.setSlot(slot_);
  const QDate today = seams::currentDateTime().date();
  if (store_.isWritable()) {
    // Earlier days whose log is missing get it under their own date, one a
    // poll tick.
    dailyLogs_.setOwnThread(s.dailyLogsOwnThread);
    dailyLogs_.writeEarlierDays(today);
    // Today's results come back, as the table held them before the program ended.
    QVector<Result> restored;
    store_.forEachResultOnDay(today, [&restored](const StoredResult& r) { restored.append(r.result); });
    if (!restored.isEmpty()) emit resultsRestored(restored);
  }
  poll_.setFuels(fuels_);
  applyPollSettings();
  monitor_.start(s.emissions, std::max(1, int(measuring_.refreshPeriod)), o2References(fuels_));
  plant_ = emissions::PlantOperation(s.emissions.validation().plant);
  restoreSwitches();
  poll_.restart();
  wanted_ = s.mode;
  wantedAsked_ = false;
  emit runStateChanged(runState());
  if (!line_) {
    pollTimer_->setInterval(s.pollIntervalMs);
    pollTimer_->setEnabled(true);
    // The first tick at once.
    quickTicksLeft_ = kQuickStartTicks;
    quickTimer_->setEnabled(true);
  }
  retryTimer_->setEnabled(true);
  publishing_.start(s.service, measuring_.address, o2References(fuels_), slot_);
  if (!line_) modbusFeed_.start(s.modbusServer);
  if (store_.isOpen()) {
    days_ = store_.daysWithResults();
    emit daysChanged(days_);
  }
  if (!line_) startOthers(s);
  emitEmissions();
  emit started();
}

QString Session::analyzerTitle() const {
  return QStringLiteral(u"Анализатор %1 (адрес %2)").arg(slot_).arg(measuring_.address);
}

void Session::addAnalyzers(const QVector<LineAnalyzer>& analyzers) {
  if (started_ || line_) return;
  for (const LineAnalyzer& a : analyzers) {
    auto* other = new Session(this, a.slot, this);
    other->measuring_ = a.measuring;
    other->fuelIndex_ = a.fuelIndex;
    others_.push_back(other);
  }
  if (!others_.empty() && !roundReports_) {
    roundReports_ = new RoundReports(this);
    roundReports_->setHolding([this] { return finishing_ || inRound(); });
  }
}

void Session::startOthers(const SessionStart& s) {
  if (others_.empty()) return;
  std::vector<PollCycle*> cycles{&poll_};
  for (Session* other : others_) {
    other->start(s);
    cycles.push_back(&other->poll_);
  }
  // The further analyzers are further units of the first one's server.
  for (Session* other : others_) other->modbusFeed_.serveOn(modbusFeed_.server(), other->slot_);
  scheduler_ = new LineScheduler(link_, this);
  scheduler_->setCycles(cycles);
  connect(scheduler_, &LineScheduler::slotTicked, this, [this](int index) { analyzer(index)->afterTick(); });
  connect(scheduler_, &LineScheduler::roundFinished, this, [this] { finishRound(); });
}

void Session::openDatabase() {
  const QString path = changeFileExt(seams::executablePath(),
                                     slot_ > 1 ? QStringLiteral("-%1.db").arg(slot_) : QStringLiteral(".db"));
  // The newest pages are read before measuring starts; after a crash the
  // rest follows beside it, in steps (a year's file took half a minute).
  const ResultStore::OpenResult opened = store_.open(path, seams::currentDateTime().toMSecsSinceEpoch(),
                                                     ResultStore::WhenLocked::OpenReadOnly, ResultStore::Check::Recent);
  if (opened.lastEndUnclean && store_.isWritable()) pageCheck_.start(store_.path());
  if (!opened.notice.isEmpty()) tellDatabaseProblem(DatabaseProblem::ResultsLost, opened.notice);
  switch (opened.status) {
    case ResultStore::OpenStatus::Opened:
      break;
    case ResultStore::OpenStatus::OpenedReadOnly:
      tellDatabaseProblem(DatabaseProblem::HistoryOnly, opened.detail);
      break;
    case ResultStore::OpenStatus::ReplacedCorrupt:
      emit databaseMovedAside(opened.movedTo);
      tellDatabaseProblem(DatabaseProblem::Replaced, opened.movedTo);
      break;
    case ResultStore::OpenStatus::Locked:
    case ResultStore::OpenStatus::CannotOpen:
      tellDatabaseProblem(DatabaseProblem::Unavailable, opened.detail);
      break;
  }
  if (store_.isWritable()) takeRecovered();
  if (store_.isOpen()) emit databaseOpened(store_.path(), store_.isWritable());
}

void Session::forgetTakenRecovery() {
  if (store_.pendingCount() > 0) return;
  for (const QString& path : std::as_const(recoveryTaken_)) QFile::remove(path);
  recoveryTaken_.clear();
}

void Session::keepUncommitted() {
  if (store_.pendingCount() == 0) return;
  recovery::Content kept{store_.pendingResults(), store_.pendingEvents()};
  QString error, where;
  for (const QString& path : {recovery::besideDatabase(store_.path()), recovery::inRuntimeFolder(store_.path())}) {
    // Another file of an earlier run still waiting is kept as it is.
    if (QFileInfo::exists(path) && !recoveryTaken_.contains(path)) continue;
    QString why;
    if (recovery::write(path, kept, &why)) {
      where = path;
      break;
    }
    error += (error.isEmpty() ? QString() : QStringLiteral("; ")) + why;
  }
  const int results = int(kept.results.size());
  if (where.isEmpty()) {
    tell(NoticeTopic::Database, NoticeLevel::Error, QString(),
         QStringLiteral(u"Результаты, не записанные в базу данных (%1), сохранить не удалось: %2").arg(results).arg(error),
         true, false);
    return;
  }
  for (const QString& taken : std::as_const(recoveryTaken_))
    if (taken != where) QFile::remove(taken);
  recoveryTaken_.clear();
  tell(NoticeTopic::Database, NoticeLevel::Warning, QString(),
       QStringLiteral(u"Результаты, не записанные в базу данных (%1), сохранены в файл %2 и будут записаны при следующем запуске")
           .arg(results)
           .arg(QDir::toNativeSeparators(where)),
       false, false);
}

void Session::takeRecovered() {
  for (const QString& path : {recovery::besideDatabase(store_.path()), recovery::inRuntimeFolder(store_.path())}) {
    if (!QFileInfo::exists(path)) continue;
    recovery::Content kept;
    QString error;
    if (!recovery::read(path, &kept, &error)) {
      tell(NoticeTopic::Database, NoticeLevel::Warning, QString(),
           QStringLiteral(u"Файл результатов, не записанных в базу данных, не прочитан и оставлен как есть: ") + error,
           true);
      continue;
    }
    ResultStore::AppendOutcome outcome;
    if (!kept.results.empty()) outcome = store_.appendBatch(kept.results);
    for (const StoredEvent& e : kept.events) outcome = store_.appendEvent(e.utcMs, e.utcOffset, e.kind, e.text);
    // Removed once they are in the database; while they wait in memory the
    // file stays, and is written anew at the end.
    if (outcome.state == ResultStore::AppendState::Committed)
      QFile::remove(path);
    else
      recoveryTaken_.append(path);
    logEvent(EventKind::ResultsRecovered,
             QStringLiteral(u"Записаны результаты, не записанные в базу данных при прошлой работе: %1 (события: %2), из файла %3")
                 .arg(kept.results.size())
                 .arg(kept.events.size())
                 .arg(QDir::toNativeSeparators(path)));
  }
}

void Session::openPort() {
  const PortOpenResult result = link_.open(measuring_.portName);
  if (result != PortOpenResult::Opened && result != PortOpenResult::Connecting)
    tellPortFailure(result, measuring_.portName, link_.openError());
}

void Session::onOpenFinished(PortOpenResult result) {
  // A connection's result comes while the cycle runs.
  if (result == PortOpenResult::Opened || !link_.port()) return;
  tellPortFailure(result, link_.port()->portName(), link_.openError());
}

void Session::applyPollSettings() {
  PollSettings s;
  s.address = measuring_.address;
  s.refreshPeriod = measuring_.refreshPeriod;
  s.calibrationTime = measuring_.times.zeroSetting;
  s.drainTime = measuring_.times.drain;
  s.measurementTime = measuring_.times.measuring;
  s.calibrationInterval = measuring_.times.continuousPeriod;
  s.cyclePeriod = measuring_.times.cyclePeriod;
  s.fuelIndex = fuelIndex_;
  poll_.setSettings(s);
}

RunState Session::runState() const {
  RunState r;
  r.address = measuring_.address;
  r.fuelIndex = fuelIndex_;
  r.linkState = uint8_t(link_.linkState());
  r.requestKind = uint8_t(poll_.requestKind());
  r.analyzerState = uint8_t(poll_.analyzerState());
  r.workMode = uint8_t(poll_.workMode());
  r.logDate = poll_.logDate();
  r.measurement = poll_.measurement();
  return r;
}

// ---------------------------------------------------------------------------
// Settings and commands

void Session::setMeasuring(const MeasuringSettings& settings) {
  const bool otherPort = settings.portName != measuring_.portName;
  measuring_ = settings;
  applyPollSettings();
  if (otherPort && !line_) openPort();
  // The port and the refresh period are the line's.
  for (Session* other : others_) {
    MeasuringSettings m = other->measuring_;
    m.portName = settings.portName;
    m.refreshPeriod = settings.refreshPeriod;
    other->setMeasuring(m);
  }
  // The refresh period sets how many results an interval expects.
  monitor_.setMeasuring(std::max(1, int(measuring_.refreshPeriod)), o2References(fuels_));
  emitEmissions();
}

void Session::reopenPort() {
  if (!line_) openPort();
}

void Session::setFuels(const FuelTable& fuels, int fuelIndex) {
  fuels_ = fuels;
  fuelIndex_ = fuelIndex;
  poll_.setFuels(fuels_);
  applyPollSettings();
  // The fuel dialog may have changed a row's reference O2.
  monitor_.setMeasuring(std::max(1, int(measuring_.refreshPeriod)), o2References(fuels_));
  publishing_.setO2RefByFuel(o2References(fuels_));
  emitEmissions();
  // The table is the line's; each analyzer keeps its row.
  for (Session* other : others_) other->setFuels(fuels, other->fuelIndex_);
}

void Session::setEmissionSettings(const emissions::EmissionSettings& settings) {
  monitor_.setSettings(settings);
  const emissions::PlantRule rule = settings.validation().plant;
  if (!(rule == plant_.rule())) {
    // A new rule watches from the next result; the switch keeps its position.
    const bool switchOn = plant_.switchOn();
    plant_ = emissions::PlantOperation(rule);
    plant_.setSwitch(switchOn);
  }
  logEvent(EventKind::SettingsApplied, QStringLiteral(u"Нормативы выбросов изменены"));
  emitEmissions();
  for (Session* other : others_) other->setEmissionSettings(settings);
}

void Session::setServiceSettings(const publish::ServiceSettings& settings) {
  publishing_.start(settings, measuring_.address, o2References(fuels_), slot_);
  for (Session* other : others_) other->setServiceSettings(settings);
}

void Session::requestMode(ModeRequest mode) {
  poll_.requestMode(mode);
  setWanted(mode == ModeRequest::Stop ? ModeRequest::None : mode);
  wantedAsked_ = true;
}

void Session::setWanted(ModeRequest mode) {
  if (mode == wanted_ && wantedAsked_) return;
  wanted_ = mode;
  emit wantedModeChanged(mode);
}

void Session::onAnalyzerReady() {
  // The mode asked for comes back after a stop the operator did not ask for
  // (start-up, the analyzer lost and found).
  // A single measurement asked for runs once: ended by the analyzer (manual
  // operation, lost) it is not started again.
  if (wanted_ == ModeRequest::Single && wantedAsked_) setWanted(ModeRequest::None);
  if (!stopped_ && wanted_ != ModeRequest::None) {
    poll_.requestMode(wanted_);
    if (!wantedAsked_) {
      wantedAsked_ = true;
      emit wantedModeChanged(wanted_);
    }
  }
  emit analyzerReady();
}

void Session::onLinkLost() {
  // The cycle sends the stop itself; the mode comes back with the analyzer.
  tell(NoticeTopic::Analyzer, NoticeLevel::Error, QString(), kAnalyzerLostText, false);
  emit analyzerLost();
}

void Session::acknowledgeAlarms() {
  if (!monitor_.acknowledgeAll().isEmpty()) emitEmissions();
}

void Session::resetStatistics() { poll_.resetStatistics(); }

void Session::showToday() {
  // Without a database the window shows what comes from now on.
  QVector<Result> today;
  if (store_.isOpen())
    store_.forEachResultOnDay(seams::currentDateTime().date(), [&today](const StoredResult& r) { today.append(r.result); });
  emit resultsRestored(today);
}

void Session::restartLogDay() { poll_.setLogDate(seams::now()); }

void Session::storeReport(const QVector<emissions::DailyAverage>& days, qint64 cutoffUtcMs) {
  const QVector<emissions::AlarmEvent> raised = monitor_.storeReport(days, cutoffUtcMs);
  if (!raised.isEmpty()) emit emissionAlarmsRaised(raised);
  emitEmissions();
  if (!days.isEmpty()) emit averagesStored(days.first().date, days.last().date);
}

void Session::openAuditCopy(const QString& dbPath) {
  if (stopped_ || auditCopy_.isOpen()) return;
  if (auditCopy_.openForReading(dbPath)) publishing_.setAuditTrail(&auditCopy_);
}

void Session::stop() {
  if (stopped_) return;
  stopped_ = true;
  wanted_ = ModeRequest::None;
  pollTimer_->setEnabled(false);
  quickTimer_->setEnabled(false);
  retryTimer_->setEnabled(false);
  // Nothing more on the line but the stops, one analyzer after the other;
  // what a round cut short took is told first.
  if (scheduler_) {
    finishRound(false);
    scheduler_->setCycles({});
  }
  for (Session* other : others_) other->stop();
  pageCheck_.stop();
  publishing_.stop();
  publishing_.setAuditTrail(nullptr);
  auditCopy_.close();
  modbusFeed_.stop();
  poll_.setRequestKind(Request::Stop);
  link_.send(poll_.settings().address, Request::Stop);
  // A moment for the frame to leave (and the analyzer's echo) before the
  // port is closed or the next analyzer's stop goes out.
  QThread::msleep(100);
  dailyLogs_.finish();
  if (store_.isOpen()) {
    store_.flushPending();
    keepUncommitted();
    store_.close();
  }
  // What was told since.
  if (roundReports_) roundReports_->flush();
  emit stopped();
}

// ---------------------------------------------------------------------------
// The cycle

void Session::onTimer() {
  watch_.tick();
  if (scheduler_) {
    // Each analyzer's tick comes in turn (slotTicked).
    scheduler_->startRound();
    return;
  }
  poll_.tick();
  afterTick();
}

void Session::afterTick() {
  // In a round the emissions move on at its end, after its results.
  if (!inRound()) advanceEmissions();
  emit runStateChanged(runState());
  // One missing log of an earlier day a tick, while the request is on the
  // line: a day's log takes a fraction of a second, a year of them would
  // hold the poll for minutes.
  if (dailyLogs_.hasEarlierDays()) dailyLogs_.writeNext();
}

void Session::advanceEmissions() {
  QVector<emissions::AlarmEvent> raised;
  if (!monitor_.advance(&raised)) return;
  if (!raised.isEmpty()) emit emissionAlarmsRaised(raised);
  emitEmissions();
}

void Session::switchTurned(EventKind kind, const QString& text, const QString& who) {
  logEvent(kind, who.isEmpty() ? text : QStringLiteral(u"%1 (%2)").arg(text, who));
  emit switchesChanged(maintenance_, testGas_, plant_.switchOn());
}

void Session::setMaintenance(bool on, const QString& who) {
  if (on == maintenance_) return;
  maintenance_ = on;
  switchTurned(on ? EventKind::MaintenanceOn : EventKind::MaintenanceOff,
               on ? QStringLiteral(u"Техобслуживание начато") : QStringLiteral(u"Техобслуживание окончено"), who);
}

void Session::setTestGas(bool on, const QString& who) {
  if (on == testGas_) return;
  testGas_ = on;
  switchTurned(on ? EventKind::TestGasOn : EventKind::TestGasOff,
               on ? QStringLiteral(u"Проверка поверочным газом начата")
                  : QStringLiteral(u"Проверка поверочным газом окончена"),
               who);
}

void Session::setPlantOperating(bool operating, const QString& who) {
  if (operating == plant_.switchOn()) return;
  plant_.setSwitch(operating);
  switchTurned(operating ? EventKind::PlantSwitchedOn : EventKind::PlantSwitchedOff,
               operating ? QStringLiteral(u"Установка в работе") : QStringLiteral(u"Установка остановлена"), who);
}

void Session::enterSubstitutes(const emissions::SubstituteEntry& entry, const QString& who) {
  const emissions::ValidationConfig validation = monitor_.settings().validation();
  const QString problem = !store_.isWritable()
                              ? QStringLiteral(u"База данных результатов недоступна для записи.")
                              : emissions::substituteProblem(entry, validation, seams::currentDateTime().toMSecsSinceEpoch());
  if (!problem.isEmpty()) {
    tell(NoticeTopic::Database, NoticeLevel::Warning, QString(),
         QStringLiteral(u"Замещающие значения не введены: ") + problem, false, false);
    return;
  }
  const QTimeZone zone = QTimeZone::systemTimeZone();
  emissions::SubstituteBasis basis;
  basis.periodSeconds = std::max(1, int(measuring_.refreshPeriod));
  basis.address = measuring_.address;
  basis.fuelIndex = uint8_t(std::clamp(fuelIndex_, 0, kFuelCount - 1));
  basis.fuel = fuels_[basis.fuelIndex];
  basis.zone = zone;
  // The span's results and half a period either side: a result that counts
  // near the span's ends fills the slot there.
  const qint64 half = qint64(basis.periodSeconds) * 500;
  const std::vector<Result> added = emissions::substituteResults(
      entry, store_.results(entry.fromUtcMs - half, entry.toUtcMs + half), basis, validation);
  // Waiting in memory (the disk refused the commit) they go in with the next
  // write; the averages over them are then the report's to compute again.
  bool committed = false;
  if (!added.empty()) {
    const ResultStore::AppendOutcome outcome = store_.appendBatch(added);
    committed = outcome.state == ResultStore::AppendState::Committed;
    reportCommit(outcome);
  }

  const QString span = emissions::substituteSpanText(entry, zone);
  const QString values = emissions::substituteValuesText(entry, seams::locale());
  const QString reason = entry.reason.trimmed();
  QString text = QStringLiteral(u"Замещающие значения за %1: %2; результатов добавлено: %3; причина: %4")
                     .arg(span, values)
                     .arg(added.size())
                     .arg(reason);
  if (!who.isEmpty()) text += QStringLiteral(" (%1)").arg(who);
  logEvent(EventKind::SubstitutesEntered, text);
  QDate first, last;
  if (committed) {
    first = seams::fromDateTime(added.front().localDateTime()).date();
    last = seams::fromDateTime(added.back().localDateTime()).date();
    const emissions::AveragingConfig config =
        monitor_.settings().averaging(basis.periodSeconds, zone, o2References(fuels_));
    const QVector<emissions::AlarmEvent> raised = monitor_.resultsAdded(first, last, config);
    if (!raised.isEmpty()) emit emissionAlarmsRaised(raised);
    emitEmissions();
    // Days the table or the history shows may have changed; today's table
    // takes them in their place.
    days_ = store_.daysWithResults();
    emit daysChanged(days_);
    if (last >= seams::currentDateTime().date()) showToday();
  }
  // The trail's entry, and the seals of the days touched again.
  emit substitutesEntered(span, values, reason, who, int(added.size()), first, last);
}

void Session::restoreSwitches() {
  if (store_.isOpen()) {
    const std::optional<StoredEvent> m = store_.lastEventOf({EventKind::MaintenanceOn, EventKind::MaintenanceOff});
    maintenance_ = m && m->kind == EventKind::MaintenanceOn;
    const std::optional<StoredEvent> t = store_.lastEventOf({EventKind::TestGasOn, EventKind::TestGasOff});
    testGas_ = t && t->kind == EventKind::TestGasOn;
    const std::optional<StoredEvent> p = store_.lastEventOf({EventKind::PlantSwitchedOn, EventKind::PlantSwitchedOff});
    plant_.setSwitch(!p || p->kind == EventKind::PlantSwitchedOn);
  }
  emit switchesChanged(maintenance_, testGas_, plant_.switchOn());
}

ResultStatus Session::decideStatus(const Result& result) {
  emissions::StatusInputs in;
  in.analyzerState = poll_.analyzerState();
  // Every result passes the O2 rule's watch, so it follows the plant in time.
  in.plantOperating = plant_.observe(result);
  in.maintenance = maintenance_;
  in.testGas = testGas_;
  return emissions::decideStatus(result, in, monitor_.settings().validation());
}

void Session::onResultTaken(const Result& taken) {
  Result result = taken;
  result.status = decideStatus(result);
  // Committed before it is reported: a crash after this loses nothing shown.
  // In a round of several analyzers the commit's wait for the disk is the
  // round's, shared by all of them: the result is told at the round's end.
  const bool inRound = this->inRound();
  Held held{result, {}, store_.isWritable()};
  if (held.stored)
    held.outcome = store_.append(result, inRound ? ResultStore::Sync::Later : ResultStore::Sync::Now);
  else
    dayTable_.append(result);
  if (inRound) {
    held_.push_back(std::move(held));
    return;
  }
  tellResult(result, held.stored ? &held.outcome : nullptr);
}

void Session::tellResult(const Result& result, const ResultStore::AppendOutcome* outcome) {
  if (outcome) {
    reportCommit(*outcome);
    // The disk's room, once the database finds it short, with every result until it is not.
    if (store_.spaceShort() || diskShort_) {
      diskShort_ = store_.spaceShort();
      emit diskRoomChanged(diskShort_, diskShort_ ? store_.bytesFree() : 0);
    }
  }
  noteDay(result);
  emit resultRecorded(outcome ? outcome->id : 0, result);
  const QVector<emissions::AlarmEvent> raised = monitor_.addResult(result);
  if (!raised.isEmpty()) emit emissionAlarmsRaised(raised);
  emitEmissions();
}

bool Session::inRound() const {
  const Session* line = line_ ? line_ : this;
  return line->scheduler_ && line->scheduler_->roundRunning();
}

void Session::finishRound(bool advance) {
  std::vector<ResultStore*> stores;
  for (int i = 0; i < analyzerCount(); ++i) stores.push_back(&analyzer(i)->store_);
  ResultStore::syncTogether(stores);
  finishing_ = true;
  for (int i = 0; i < analyzerCount(); ++i) {
    Session* s = analyzer(i);
    // Told once a failing streak; the next round's sync tries again.
    const bool failed = s->store_.needsSync();
    if (failed && !s->syncFailing_)
      s->tellDatabaseProblem(DatabaseProblem::SyncFailing, QStringLiteral(u"журнал не сбрасывается на диск"));
    s->syncFailing_ = failed;
    std::vector<Held> held;
    held.swap(s->held_);
    for (const Held& h : held) s->tellResult(h.result, h.stored ? &h.outcome : nullptr);
    if (advance) s->advanceEmissions();
  }
  finishing_ = false;
  if (roundReports_) roundReports_->flush();
}

void Session::noteDay(const Result& result) {
  if (!store_.isOpen()) return;
  const QDate day = seams::fromDateTime(result.localDateTime()).date();
  if (!days_.isEmpty() && days_.last() >= day) return;
  if (days_.contains(day)) return;
  days_.append(day);
  emit daysChanged(days_);
}

void Session::emitEmissions() { emit emissionsChanged(monitor_.state()); }

QString Session::publishingText() const {
  QStringList parts;
  const QString publishing = publishing_.stateText();
  if (!publishing.isEmpty()) parts << publishing;
  const QString modbus = modbusFeed_.stateText();
  if (!modbus.isEmpty()) parts << modbus;
  return parts.join(QStringLiteral("; "));
}

void Session::onDayEnded(const QDate& day) {
  if (!store_.isWritable()) {
    // Without a database the table is the day's only record; a log that
    // could not be written keeps the day's results, for the next log.
    const bool written = DailyLogs::writeFromTable(dayTable_, day, slot_);
    if (written)
      dayTable_.clear();
    else
      tellDataWriteFailure();
    emit newDay(written);
    return;
  }
  // The ended day's log, even without results, and any earlier one missing;
  // told once, retried quietly until written.
  dailyLogs_.dayEnded(day, seams::currentDateTime().date());
  // The day's rows are in the database: the table starts the new day anyway.
  emit newDay(true);
}

void Session::retryDailyLogs() {
  if (!store_.isWritable()) return;
  const bool hadPending = store_.pendingCount() > 0;
  if (store_.flushPending() && hadPending) {
    emit committed();
    publishing_.poke();
    forgetTakenRecovery();
    uncommitted_ = 0;
    emit uncommittedChanged(0);
  }
  dailyLogs_.retry();
}

// ---------------------------------------------------------------------------
// Events and notices

void Session::logEvent(EventKind kind, const QString& text) {
  const QDateTime now = seams::currentDateTime();
  if (store_.isWritable()) reportCommit(store_.appendEvent(now.toMSecsSinceEpoch(), now.offsetFromUtc(), kind, text));
  emit eventLogged(text);
  emit eventKindLogged(kind, text);
}

void Session::recordNotice(const Notice& n) {
  const std::optional<EventKind> kind = eventKindOf(n.topic);
  if (!kind || !store_.isWritable()) return;
  reportCommit(store_.appendEvent(n.utcMs, n.utcOffset, *kind, n.line()));
}

void Session::reportCommit(const ResultStore::AppendOutcome& outcome) {
  if (outcome.state == ResultStore::AppendState::Committed) {
    emit committed();
    publishing_.poke();
    forgetTakenRecovery();
  }
  const int waiting = store_.pendingCount() > 0 ? store_.pendingResultCount() : 0;
  if (waiting != uncommitted_) {
    uncommitted_ = waiting;
    emit uncommittedChanged(waiting);
  }
  // Told once when commits start failing; what waits is committed with the next write.
  if (outcome.state == ResultStore::AppendState::Pending && outcome.failureStarted)
    tellDatabaseProblem(DatabaseProblem::WriteFailing, outcome.error);
}

void Session::tell(NoticeTopic topic, NoticeLevel level, const QString& title, const QString& text, bool beep,
                   bool record) {
  // A further analyzer's notice says whose it is.
  QString heading = title;
  if (line_) {
    const QString whose = analyzerTitle();
    heading = title.isEmpty() ? whose : whose + QStringLiteral(": ") + title;
  }
  const Notice n = Notice::at(seams::currentDateTime(), topic, level, heading, text, beep);
  if (record) recordNotice(n);
  emit notice(n);
}

void Session::tellPortFailure(PortOpenResult result, const QString& portName, const QString& reason) {
  QString title;
  switch (result) {
    case PortOpenResult::CannotOpen: title = QStringLiteral(u"Не могу открыть порт"); break;
    case PortOpenResult::CannotGetStatus: title = QStringLiteral(u"Не могу получить статус порта"); break;
    case PortOpenResult::CannotInitialize: title = QStringLiteral(u"Не могу инициализировать порт"); break;
    case PortOpenResult::Opened:
    case PortOpenResult::Connecting: return;
  }
  // The reason, where the name alone does not say it (a connection's).
  tell(NoticeTopic::Port, NoticeLevel::Error, title,
       reason.isEmpty() ? portName : portName + QStringLiteral("\r\n") + reason, false);
}

void Session::tellDatabaseProblem(DatabaseProblem problem, const QString& detail) {
  tell(NoticeTopic::Database, NoticeLevel::Warning, QString(), problemText(problem, detail), true);
}

void Session::tellDataWriteFailure() { tell(NoticeTopic::DataWrite, NoticeLevel::Error, QString(), kDataWriteText, true); }

void Session::onPublishingMessage(const QString& text) {
  tell(NoticeTopic::Publishing, NoticeLevel::Warning, QString(), text, false);
  // A failure may change what the state is called ("нет связи" after one).
  emit publishingChanged(publishingText());
}

QString Session::problemText(DatabaseProblem problem, const QString& detail) {
  // The detail is a sentence of its own: on one line (the service's output)
  // the next one must not run on from it.
  QString sentence = detail.trimmed();
  if (!sentence.isEmpty() && !QStringLiteral(".!?").contains(sentence.back())) sentence += QLatin1Char('.');
  QString text;
  switch (problem) {
    case DatabaseProblem::HistoryOnly:
      text = QStringLiteral(u"База данных результатов доступна только для чтения:\r\n%1\r\n"
                            u"Результаты этого сеанса в неё не записываются.");
      break;
    case DatabaseProblem::Replaced:
      text = QStringLiteral(u"База данных результатов была повреждена и сохранена как\r\n%1\r\n"
                            u"Начата новая база данных.");
      return text.arg(detail);  // a file's name: nothing added to it
    case DatabaseProblem::Unavailable:
      text = QStringLiteral(u"Нет доступа к базе данных результатов:\r\n%1\r\n"
                            u"Результаты сохраняются только в суточных журналах.");
      break;
    case DatabaseProblem::WriteFailing:
      text = QStringLiteral(u"Ошибка записи в базу данных результатов:\r\n%1\r\n"
                            u"Результаты хранятся в памяти и будут записаны, когда запись станет возможна.");
      break;
    case DatabaseProblem::SyncFailing:
      text = QStringLiteral(u"Ошибка записи на диск базы данных результатов:\r\n%1\r\n"
                            u"Результаты записаны в базу данных, но отключение питания может их стереть.");
      break;
    case DatabaseProblem::Damaged:
      text = QStringLiteral(u"База данных результатов повреждена: не читаются %1.\r\n"
                            u"Средние значения выбросов за это время не вычисляются.");
      break;
    case DatabaseProblem::ResultsLost:
      text = QStringLiteral("%1");
      break;
  }
  return text.arg(sentence);
}
