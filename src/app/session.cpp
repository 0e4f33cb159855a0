#include "app/session.h"

#include <QFileInfo>
#include <QDir>
#include <QThread>
#include <QTimer>
#include <QTimeZone>
#include <algorithm>
#include <utility>

#include "acquisition/state_texts.h"
#include "emissions/emission_texts.h"
#include "emissions/stored_averages.h"
#include "platform/seams.h"
#include "publish/messages.h"
#include "platform/timer.h"
#include "storage/settings_files.h"
#include "storage/settings_records.h"

namespace {

qint64 utcNow() { return seams::currentDateTime().toMSecsSinceEpoch(); }

QString modeName(WorkMode mode) {
  switch (mode) {
    case WorkMode::Continuous: return QStringLiteral(u"непрерывное измерение");
    case WorkMode::Single: return QStringLiteral(u"однократное измерение");
    case WorkMode::Cyclic: return QStringLiteral(u"циклическое измерение");
    default: return QString();
  }
}

// Local midnight at the start of `day`, in UTC milliseconds.
qint64 dayStartUtc(const QDate& day) { return QDateTime(day, QTime(0, 0)).toMSecsSinceEpoch(); }

}  // namespace

Session::Session(QObject* parent)
    : QObject(parent), poll_(link_), pollTimer_(new Timer(1000, this)), retryTimer_(new Timer(60000, this)) {
  connect(pollTimer_, &Timer::timeout, &poll_, &PollCycle::tick);
  // After the cycle's own tick: a result the tick took is counted first.
  connect(pollTimer_, &Timer::timeout, this, &Session::onPollTick);
  connect(retryTimer_, &Timer::timeout, this, &Session::retryDailyLogs);
  connect(&poll_, &PollCycle::resultTaken, this, &Session::onResultTaken);
  connect(&poll_, &PollCycle::dayEnded, this, &Session::onDayEnded);
  connect(&poll_, &PollCycle::linkLost, this, &Session::onLinkLost);
  connect(&link_, &AnalyzerLink::openFinished, this, &Session::onOpenFinished);
  connect(&link_, &AnalyzerLink::reopened, this, [this] {
    logEvent(EventKind::PortReopened,
             QStringLiteral(u"Порт открыт снова: %1").arg(shortStringText(programSettings.portName)));
  });
  connect(&link_, &AnalyzerLink::openedLater, this, [this] {
    logEvent(EventKind::PortOpened,
             QStringLiteral(u"Порт открыт: %1").arg(shortStringText(programSettings.portName)));
  });
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
  // Damage a read met: into the event log and to the operator, once the
  // read is over (it may be in the middle of something that shows a box).
  store_.setDamageObserver([this](const UnreadableSpan& span) {
    if (!unreadable_.contains(span)) unreadable_.append(span);
    QTimer::singleShot(0, this, [this, span] {
      logEvent(EventKind::StoreDamaged, QStringLiteral(u"База данных результатов повреждена: не читаются ") +
                                            span.text() + QStringLiteral(" (") + span.error + QLatin1Char(')'));
      const bool timerWasOn = pollTimer_->isEnabled();
      pollTimer_->setEnabled(false);
      emit databaseProblem(DatabaseProblem::Damaged, span.text());
      pollTimer_->setEnabled(timerWasOn);
    });
  });
}

Session::~Session() { finish(); }

bool Session::loadSettings() {
  deviceRecord.deviceSlot = 1;
  deviceRecord.deviceAddress = 1;
  return ::loadSettings();
}

bool Session::resetSettings() {
  ::resetSettings();
  if (::saveSettings()) {
    emit settingsWritten({settingsPath(), devicePath()});
    return true;
  }
  emit settingsSaveFailed();
  return false;
}

void Session::openDatabase() {
  const QString path = changeFileExt(seams::executablePath(), QStringLiteral(".db"));
  const ResultStore::OpenResult opened = store_.open(path, utcNow());
  if (!opened.notice.isEmpty()) emit databaseProblem(DatabaseProblem::ResultsLost, opened.notice);
  switch (opened.status) {
    case ResultStore::OpenStatus::Opened:
      break;
    case ResultStore::OpenStatus::OpenedReadOnly:
      emit databaseProblem(DatabaseProblem::HistoryOnly, opened.detail);
      break;
    case ResultStore::OpenStatus::ReplacedCorrupt:
      emit databaseProblem(DatabaseProblem::Replaced, opened.movedTo);
      break;
    case ResultStore::OpenStatus::Locked:
    case ResultStore::OpenStatus::CannotOpen:
      emit databaseProblem(DatabaseProblem::Unavailable, opened.detail);
      break;
  }
}

void Session::openPort() {
  pollTimer_->setEnabled(false);
  const QString name = shortStringText(programSettings.portName);
  const PortOpenResult result = link_.open(name);
  if (result != PortOpenResult::Opened && result != PortOpenResult::Connecting)
    emit portOpenFailed(result, name, link_.openError());
  pollTimer_->setEnabled(true);
}

void Session::onOpenFinished(PortOpenResult result) {
  // A connection's result comes while the cycle runs: its box stops the
  // timer as the one at opening does, and gives it back.
  if (result == PortOpenResult::Opened || !link_.port()) return;
  const bool timerWasOn = pollTimer_->isEnabled();
  pollTimer_->setEnabled(false);
  emit portOpenFailed(result, link_.port()->portName(), link_.openError());
  pollTimer_->setEnabled(timerWasOn);
}

void Session::start() {
  if (store_.isWritable()) {
    // Earlier days whose log is missing get it now, under their own date.
    for (const QDate& day : store_.daysWithoutLog(seams::currentDateTime().date())) missingLogs_.insert(day);
    if (!writeMissingLogs()) {
      writeFailureShown_ = true;
      emit resultsWriteFailed();
    }
    // Today's results come back, as the table held them before the program ended.
    bool loading = false;
    store_.forEachResultOnDay(seams::currentDateTime().date(), [this, &loading](const StoredResult& s) {
      if (!std::exchange(loading, true)) results_.beginLoad();
      results_.append(s.result);
    });
    if (loading) results_.endLoad();
  }
  deviceRecord.deviceAddress = programSettings.netAddress;
  deviceRecord.fuelIndex = 0;
  takeSettings();
  loadEmissionSettings();
  storeMissedDays();
  rebuildEmissions();
  poll_.restart();
  storeRunState();
  pollTimer_->setInterval(1000);
  pollTimer_->setEnabled(true);
  retryTimer_->setEnabled(true);
}

void Session::takeSettings() {
  const DeviceRecord& d = deviceRecord;
  const int slot = slotIndex(d);
  PollSettings s;
  s.address = d.deviceAddress;
  s.refreshPeriod = programSettings.refreshPeriod;
  s.calibrationTime = d.calibrationTime[slot];
  s.drainTime = d.drainTime[slot];
  s.measurementTime = d.measurementTime[slot];
  s.calibrationInterval = d.calibrationInterval[slot];
  s.cyclePeriod = d.cyclePeriod[slot];
  s.fuelIndex = d.fuelIndex;
  poll_.setSettings(s);
}

void Session::applyOptions() {
  deviceRecord.deviceAddress = programSettings.netAddress;
  takeSettings();
  openPort();
  saveSettings();
  // The refresh period sets how many results an interval expects.
  if (engine_ && engine_->config().resultPeriodSeconds != averagingConfig().resultPeriodSeconds) rebuildEmissions();
}

void Session::applyFuel(int fuelIndex) {
  deviceRecord.fuelIndex = fuelIndex;
  takeSettings();
  saveSettings();
  // The fuel dialog may have changed a row's reference O2.
  if (engine_ && engine_->config().o2RefByFuel != averagingConfig().o2RefByFuel) rebuildEmissions();
}

void Session::storeRunState() {
  DeviceRecord& d = deviceRecord;
  d.linkState = uint8_t(link_.linkState());
  d.requestKind = uint8_t(poll_.requestKind());
  d.deviceState = uint8_t(poll_.analyzerState());
  d.workMode = uint8_t(poll_.workMode());
  d.logDate = poll_.logDate();
  d.measurement = toRecord(poll_.measurement());
}

bool Session::saveSettings() {
  storeRunState();
  if (::saveSettings()) {
    logEvent(EventKind::SettingsApplied, QStringLiteral(u"Настройки изменены"));
    emit settingsWritten({settingsPath(), devicePath()});
    return true;
  }
  emit settingsSaveFailed();
  return false;
}

void Session::logEvent(EventKind kind, const QString& text) {
  const QDateTime now = seams::currentDateTime();
  if (store_.isWritable())
    reportCommit(store_.appendEvent(now.toMSecsSinceEpoch(), now.offsetFromUtc(), kind, text));
  emit eventLogged(text);
  emit eventKindLogged(kind, text);
}

void Session::reportCommit(const ResultStore::AppendOutcome& outcome) {
  if (outcome.state == ResultStore::AppendState::Committed) emit committed();
  // Told once when commits start failing; what waits is committed with the next write.
  if (outcome.state != ResultStore::AppendState::Pending || !outcome.failureStarted) return;
  const bool timerWasOn = pollTimer_->isEnabled();
  pollTimer_->setEnabled(false);
  emit databaseProblem(DatabaseProblem::WriteFailing, outcome.error);
  pollTimer_->setEnabled(timerWasOn);
}

void Session::onResultTaken(const Result& result) {
  // Committed before it is shown: a crash after this loses nothing shown.
  qint64 seq = 0;
  if (store_.isWritable()) {
    const ResultStore::AppendOutcome outcome = store_.append(result);
    seq = outcome.id;
    reportCommit(outcome);
  }
  emit resultRecorded(seq, result);
  results_.append(result);
  lastResult_ = result;
  if (engine_) takeEmissionUpdate(engine_->addResult(result));
  emit emissionsChanged();
}

// ---------------------------------------------------------------------------
// Emissions

QString Session::emissionSettingsPath() {
  const QFileInfo exe(seams::executablePath());
  return exe.absoluteDir().filePath(exe.completeBaseName() + QStringLiteral("-emissions.ini"));
}

void Session::loadEmissionSettings() {
  const emissions::SettingsLoad load = emissions::loadEmissionSettings(emissionSettingsPath());
  emissionSettings_ = load.settings;
  QString text;
  switch (load.status) {
    case emissions::SettingsStatus::Loaded:
    case emissions::SettingsStatus::Missing:  // a new installation: no limits yet
      return;
    case emissions::SettingsStatus::Unreadable:
      text = QStringLiteral(u"Файл нормативов выбросов не читается:\r\n%1\r\n"
                            u"Действуют значения по умолчанию (без нормативов).");
      break;
    case emissions::SettingsStatus::Broken:
      text = QStringLiteral(u"Файл нормативов выбросов повреждён:\r\n%1\r\n"
                            u"Действуют значения по умолчанию (без нормативов).");
      break;
    case emissions::SettingsStatus::InvalidValues:
      text = QStringLiteral(u"В файле нормативов выбросов неверные значения:\r\n%1\r\n"
                            u"Вместо них действуют значения по умолчанию: ") +
             load.problems.join(QStringLiteral("; "));
      break;
  }
  emit emissionSettingsProblem(text.arg(QDir::toNativeSeparators(emissionSettingsPath())));
}

bool Session::applyEmissionSettings(const emissions::EmissionSettings& settings, QString* error) {
  if (!emissions::saveEmissionSettings(emissionSettingsPath(), settings, error)) return false;
  const bool rebuild = settings.intervalMinutes != emissionSettings_.intervalMinutes;
  emissionSettings_ = settings;
  logEvent(EventKind::SettingsApplied, QStringLiteral(u"Нормативы выбросов изменены"));
  emit settingsWritten({emissionSettingsPath()});
  if (rebuild || !engine_)
    rebuildEmissions();
  else
    engine_->setLimits(settings.limits);
  emit emissionsChanged();
  return true;
}

emissions::AveragingConfig Session::averagingConfig() const {
  emissions::AveragingConfig c;
  c.intervalMinutes = emissionSettings_.intervalMinutes;
  c.resultPeriodSeconds = std::max(1, int(programSettings.refreshPeriod));
  c.zone = QTimeZone::systemTimeZone();
  c.o2RefByFuel = publish::o2RefsFromFuelTable();
  return c.sanitized();
}

void Session::updateToday() {
  today_.reset();
  const std::optional<emissions::IntervalAverage> running = engine_ ? engine_->runningInterval() : std::nullopt;
  if (running && engine_->day().isValid())
    today_ = emissions::dayInProgress(engine_->day(), engine_->dayIntervals(), running->startUtcMs, engine_->config());
}

void Session::rebuildEmissions() {
  engine_ = std::make_unique<emissions::EmissionEngine>(averagingConfig(), emissionSettings_.limits);
  today_.reset();
  if (!store_.isOpen()) {
    emit emissionsChanged();
    return;
  }
  const qint64 now = utcNow();
  const QVector<qint64> starts = emissions::dayIntervalStarts(seams::currentDateTime().date(), engine_->config());
  if (starts.isEmpty()) {
    emit emissionsChanged();
    return;
  }
  // The acknowledgements logged today are replayed at their moments, so an
  // alarm the operator already acknowledged does not latch again.
  QVector<qint64> acknowledged;
  for (const StoredEvent& e : store_.events(starts.first(), now + 1))
    if (e.kind == EventKind::AlarmAcknowledged) acknowledged.append(e.utcMs);
  auto ack = acknowledged.cbegin();
  // Read whole first: damage it meets is known before any average is judged.
  for (const StoredResult& s : store_.results(starts.first(), now + 1)) {
    for (; ack != acknowledged.cend() && *ack <= s.result.utcMs; ++ack) engine_->acknowledgeAll(*ack);
    takeEmissionUpdate(engine_->addResult(s.result));
    lastResult_ = s.result;
  }
  for (; ack != acknowledged.cend(); ++ack) engine_->acknowledgeAll(*ack);
  takeEmissionUpdate(engine_->advanceTo(now));
  updateToday();
  emit emissionsChanged();
}

void Session::storeMissedDays() {
  if (!store_.isWritable()) return;
  // A week back at most: older days are for the report, which computes them anyway.
  constexpr int kDaysBack = 7;
  const emissions::AveragingConfig c = averagingConfig();
  const QDate today = seams::currentDateTime().date();
  const QVector<QDate> withResults = store_.daysWithResults();
  for (QDate d = today.addDays(-kDaysBack); d < today; d = d.addDays(1)) {
    if (!withResults.contains(d)) continue;
    const QVector<qint64> starts = emissions::dayIntervalStarts(d, c);
    if (starts.isEmpty() ||
        !store_.averages(AveragePeriodKind::Day, c.intervalMinutes, starts.first(), starts.first() + 1).isEmpty())
      continue;
    store_.storeAverages(
        emissions::storedForm(emissions::recomputeDay(store_, d, c), c.intervalMinutes, emissionSettings_.limits));
  }
}

void Session::takeEmissionUpdate(const emissions::EngineUpdate& update) {
  if (update.completedIntervals.isEmpty() && update.completedDays.isEmpty() && update.events.isEmpty()) return;
  updateToday();
  const int minutes = engine_->config().intervalMinutes;
  const emissions::AlarmLimits& limits = engine_->limits();
  // Averages the database already holds were judged before (a replay at
  // start): their alarms are latched again, quietly.
  // Averages over results the database could not read are none: neither
  // stored nor judged.
  const auto unreadable = [this](qint64 from, qint64 to) {
    return std::any_of(unreadable_.cbegin(), unreadable_.cend(),
                       [&](const UnreadableSpan& s) { return s.overlaps(from, to); });
  };
  QSet<qint64> knownIntervals, knownDays;
  QVector<StoredAverage> fresh;
  for (const emissions::IntervalAverage& a : update.completedIntervals) {
    if (unreadable(a.startUtcMs, a.endUtcMs) ||
        !store_.averages(AveragePeriodKind::Interval, minutes, a.startUtcMs, a.startUtcMs + 1).isEmpty())
      knownIntervals.insert(a.startUtcMs);
    else
      fresh.append(emissions::toStored(a, minutes, limits));
  }
  for (const emissions::DailyAverage& d : update.completedDays) {
    if (unreadable(d.startUtcMs, d.endUtcMs) ||
        !store_.averages(AveragePeriodKind::Day, minutes, d.startUtcMs, d.startUtcMs + 1).isEmpty())
      knownDays.insert(d.startUtcMs);
    else
      fresh.append(emissions::toStored(d, minutes, limits));
  }
  if (store_.isWritable()) store_.storeAverages(fresh);
  const qint64 intervalMs = engine_->config().intervalMs();
  QVector<emissions::AlarmEvent> raised;
  for (const emissions::AlarmEvent& e : update.events) {
    if (e.type == emissions::AlarmEventType::Acknowledged) continue;
    const QSet<qint64>& known = e.key.period == emissions::AveragePeriod::Day ? knownDays : knownIntervals;
    if (known.contains(e.averageStartUtcMs)) continue;
    // A repeat of a latched alarm gets its line too, but no new beep.
    logEvent(EventKind::Alarm, emissions::alarmEventText(e, intervalMs, seams::locale()));
    if (e.type == emissions::AlarmEventType::Raised) raised.append(e);
  }
  if (!raised.isEmpty()) emit emissionAlarmsRaised(raised);
}

void Session::onPollTick() {
  if (!engine_) return;
  const emissions::EngineUpdate update = engine_->advanceTo(utcNow());
  if (update.completedIntervals.isEmpty() && update.completedDays.isEmpty()) return;
  takeEmissionUpdate(update);
  emit emissionsChanged();
}

bool Session::acknowledgeAlarms() {
  if (!engine_) return false;
  const QDateTime now = seams::currentDateTime();
  const QVector<emissions::AlarmEvent> events = engine_->acknowledgeAll(now.toMSecsSinceEpoch());
  for (const emissions::AlarmEvent& e : events)
    logEvent(EventKind::AlarmAcknowledged,
             emissions::alarmEventText(e, engine_->config().intervalMs(), seams::locale()));
  if (!events.isEmpty()) emit emissionsChanged();
  return !events.isEmpty();
}

Session::EmissionsState Session::emissionsState() const {
  EmissionsState s;
  s.limits = emissionSettings_.limits;
  s.intervalMinutes = emissionSettings_.intervalMinutes;
  if (!engine_) return s;
  const emissions::AveragingConfig& c = engine_->config();
  s.lastResult = lastResult_;
  if (lastResult_) {
    s.current = emissions::convert(*lastResult_, c.o2RefByFuel);
    if (lastResult_->fuelIndex < c.o2RefByFuel.size()) s.o2Ref = c.o2RefByFuel[lastResult_->fuelIndex];
  }
  s.running = engine_->runningInterval();
  s.lastInterval = engine_->lastCompletedInterval();
  s.today = today_;
  const emissions::AlarmLatches& alarms = engine_->alarms();
  s.lamp = alarms.lamp();
  if (s.lamp == emissions::Lamp::Off) return s;
  const int offset = seams::currentDateTime().offsetFromUtc();
  for (emissions::Component comp : emissions::kComponents) {
    for (auto period : {emissions::AveragePeriod::Interval, emissions::AveragePeriod::Day}) {
      for (auto level : {emissions::AlarmLevel::Alarm, emissions::AlarmLevel::PreAlarm}) {
        const emissions::AlarmKey key{comp, period, level};
        const emissions::AlarmState& st = alarms.state(key);
        if (st.latched) s.latched << emissions::alarmStateText(key, st, offset, seams::locale());
      }
    }
  }
  return s;
}

emissions::EmissionReport Session::emissionReport(const QDate& from, const QDate& to) {
  // What ended by now is completed (and judged, and stored) first: stored by
  // the report, it would count as judged before and raise no alarm.
  onPollTick();
  const emissions::AveragingConfig c = averagingConfig();
  const QVector<emissions::DailyAverage> days = emissions::recomputeDays(store_, from, to, c);
  if (store_.isWritable()) {
    // Only what is over: an interval still running or to come is not an average yet.
    const qint64 now = utcNow();
    QVector<StoredAverage> over;
    for (const emissions::DailyAverage& d : days) {
      for (const emissions::IntervalAverage& iv : d.intervals)
        if (iv.endUtcMs <= now && !iv.unreadable)
          over.append(emissions::toStored(iv, c.intervalMinutes, emissionSettings_.limits));
      if (d.endUtcMs <= now && !d.unreadable)
        over.append(emissions::toStored(d, c.intervalMinutes, emissionSettings_.limits));
    }
    store_.storeAverages(over);
  }
  return emissions::EmissionReport::fromDays(days, emissionSettings_.limits);
}

bool Session::writeResults(const ResultsLog& log, const QString& path, bool clear) {
  // The timer's state is given back rather than switched on, so a write
  // inside opening a file leaves the timer stopped until the load is done.
  const bool timerWasOn = pollTimer_->isEnabled();
  pollTimer_->setEnabled(false);
  const bool written = writeTableFile(log, path);
  if (!written) emit resultsWriteFailed();
  // Without a database a log that could not be written keeps the day's
  // results: they go into the next log or the save offered on closing.
  if (clear && written) results_.clear();
  poll_.setLogDate(seams::now());
  pollTimer_->setEnabled(timerWasOn);
  return written;
}

bool Session::writeDayLog(const QDate& day) {
  const QString path = dailyLogPath(day);
  // Results still waiting for the database belong in the log too: not yet.
  QString error;
  bool written = store_.flushPending();
  if (written) {
    ResultsLog log;
    log.beginLoad();
    store_.forEachResultOnDay(day, [&log](const StoredResult& s) { log.append(s.result); });
    log.endLoad();
    written = writeTableFile(log, path, &error);
  } else {
    error = store_.lastError();
  }
  if (!written) {
    missingLogs_.insert(day);
    if (!failureLogged_.contains(day)) {
      failureLogged_.insert(day);
      logEvent(EventKind::DailyLogFailed, QStringLiteral(u"Суточный журнал не записан: %1 (%2)").arg(path, error));
    }
    return false;
  }
  store_.markLogWritten(day, utcNow());
  missingLogs_.remove(day);
  failureLogged_.remove(day);
  logEvent(EventKind::DailyLogWritten, QStringLiteral(u"Суточный журнал записан: %1").arg(path));
  return true;
}

bool Session::writeMissingLogs() {
  QList<QDate> days = missingLogs_.values();
  std::sort(days.begin(), days.end());
  bool all = true;
  for (const QDate& day : days) all = writeDayLog(day) && all;
  if (all) writeFailureShown_ = false;
  return all;
}

void Session::retryDailyLogs() {
  if (!store_.isWritable()) return;
  const bool hadPending = store_.pendingCount() > 0;
  if (store_.flushPending() && hadPending) emit committed();
  writeMissingLogs();
}

void Session::onDayEnded(const QDate& day) {
  if (!store_.isWritable()) {
    // Without a database the table is the day's only record.
    writeResults(results_, dailyLogPath(day), true);
    return;
  }
  const bool timerWasOn = pollTimer_->isEnabled();
  pollTimer_->setEnabled(false);
  // The ended day's log, even without results, and any earlier one missing.
  missingLogs_.insert(day);
  for (const QDate& d : store_.daysWithoutLog(seams::currentDateTime().date())) missingLogs_.insert(d);
  if (!writeMissingLogs() && !writeFailureShown_) {
    // Told once; the writes are retried quietly until they succeed.
    writeFailureShown_ = true;
    emit resultsWriteFailed();
  }
  // The day's rows are in the database: the table starts the new day anyway.
  results_.clear();
  poll_.setLogDate(seams::now());
  pollTimer_->setEnabled(timerWasOn);
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

bool Session::saveDataFile(const QString& path) { return writeResults(results_, path, false); }

bool Session::saveDataFile(const ResultsLog& log, const QString& path) { return writeResults(log, path, false); }

TableLoadResult Session::openDataFile(const QString& path) { return loadTableFile(path, results_); }

void Session::clearResults() { results_.clear(); }

bool Session::loadHistory(const QDate& from, const QDate& to, ResultsLog& into) const {
  if (!store_.isOpen()) return false;
  into.beginLoad();
  store_.forEachResult(dayStartUtc(from), dayStartUtc(to.addDays(1)),
                       [&into](const StoredResult& s) { into.append(s.result); });
  into.endLoad();
  return true;
}

void Session::onLinkLost() {
  pollTimer_->setEnabled(false);
  emit analyzerLost();
  pollTimer_->setEnabled(true);
}

void Session::sendStop() {
  poll_.setRequestKind(Request::Stop);
  link_.send(poll_.settings().address, Request::Stop);
  QThread::msleep(100);
}

void Session::finish() {
  if (!store_.isOpen()) return;
  store_.flushPending();
  store_.close();
}
