#include "app/audit_keeper.h"

#include <QDir>
#include <QFileInfo>
#include <utility>

#include "app/session.h"
#include "platform/seams.h"
#include "platform/timer.h"
#include "publish/service_settings.h"
#include "storage/settings_files.h"

namespace {

// Averages of the day before are completed on the first tick after
// midnight; the seal waits a little longer than that.
const QTime kSealAfter(0, 5);

QDate localDate(const Result& r) {
  return QDateTime::fromMSecsSinceEpoch(r.utcMs + qint64(r.utcOffset) * 1000, Qt::UTC).date();
}

}  // namespace

AuditKeeper::AuditKeeper(Session& session, QObject* parent)
    : QObject(parent), session_(session), sealTimer_(new Timer(60000, this)) {
  connect(&session_, &Session::databaseProblem, this, [this](Session::DatabaseProblem problem, const QString& detail) {
    if (problem == Session::DatabaseProblem::Replaced) movedTo_ = detail;
  });
  connect(&session_, &Session::eventKindLogged, this, &AuditKeeper::onEvent);
  connect(&session_, &Session::settingsWritten, this, &AuditKeeper::settingsWritten);
  connect(&session_, &Session::resultRecorded, this, &AuditKeeper::onResult);
  connect(&access_, &AccessControl::accountsSaved, this, [this] {
    if (trail_.isWritable()) watch_.acceptWritten(trail_, access_.accounts().path());
  });
  connect(sealTimer_, &Timer::timeout, this, &AuditKeeper::onSealTick);
}

AuditKeeper::~AuditKeeper() { stop(); }

QVector<WatchedFile> AuditKeeper::watchedFiles() const {
  auto file = [](const QString& path, WatchedFile::Kind kind) {
    return WatchedFile{QFileInfo(path).fileName(), path, kind};
  };
  return {file(settingsPath(), WatchedFile::Kind::ProgramRecord), file(devicePath(), WatchedFile::Kind::DeviceRecord),
          file(Session::emissionSettingsPath(), WatchedFile::Kind::Ini),
          file(publish::defaultServiceSettingsPath(), WatchedFile::Kind::Ini),
          file(UserAccounts::defaultPath(), WatchedFile::Kind::Ini)};
}

QString AuditKeeper::brokenText(const QString& line) {
  return QStringLiteral(u"Журнал аудита нарушен:\r\n%1\r\n"
                        u"Записи журнала или результаты изменены вне программы. Сообщите администратору; "
                        u"«korvex --verify» проверит журнал целиком.")
      .arg(line);
}

void AuditKeeper::open(const QString& how) {
  stopped_ = false;
  watch_.setFiles(watchedFiles());
  QString error;
  if (!access_.load(UserAccounts::defaultPath(), &error))
    emit problem(QStringLiteral(u"Файл пользователей не читается:\r\n%1\r\nВсе команды недоступны, пока он не исправлен.").arg(error));
  const ResultStore& store = session_.store();
  if (!store.isOpen()) return;  // no database: the session has told why; no trail either
  if (!trail_.open(store.path(), store.isWritable(), &error)) {
    emit problem(QStringLiteral(u"Журнал аудита не открывается:\r\n%1").arg(error));
    return;
  }
  access_.setTrail(&trail_);

  // Before anything is recorded: a new entry would move the end of the
  // chain past entries cut off it.
  TrailCheckScope scope;
  scope.newestEntries = 100;
  scope.newestDays = 1;
  scope.recordedBreaks = false;
  startCheck_ = checkTrail(trail_, store, scope);
  if (!movedTo_.isEmpty()) trail_.recordDatabaseMovedAside(movedTo_);
  if (startCheck_.status != TrailCheck::Status::Whole) {
    trail_.record(AuditKind::TrailBroken, QString(), startCheck_.line);
    emit trailBroken(brokenText(startCheck_.line));
  }
  trail_.record(AuditKind::ProgramStarted, how,
                QStringLiteral(u"Запуск программы (%1): %2").arg(how, QDir::toNativeSeparators(seams::executablePath())));
  watch_.checkOutside(trail_);
  const QVector<QDate> sealed = trail_.sealedDays();
  sealed_ = QSet<QDate>(sealed.begin(), sealed.end());
  sealTimer_->setEnabled(trail_.isWritable());
  if (trail_.pendingCount() > 0) {
    writeFailureTold_ = true;
    emit problem(trail_.lastError());
  }
}

void AuditKeeper::sealDays() {
  const ResultStore& store = session_.store();
  if (!trail_.isWritable() || !store.isOpen()) return;
  const QDate today = seams::currentDateTime().date();
  for (const QDate& d : trail_.sealDaysBefore(store, today)) sealed_.insert(d);
  if (store.pendingCount() == 0) sealPassDay_ = today;
}

void AuditKeeper::onSealTick() {
  if (!trail_.isWritable()) return;
  if (!trail_.flushPending() && !writeFailureTold_) {
    writeFailureTold_ = true;
    emit problem(trail_.lastError());
  } else if (trail_.pendingCount() == 0) {
    writeFailureTold_ = false;
  }
  resealLateDays();
  const QDateTime now = seams::currentDateTime();
  if (sealPassDay_ != now.date() && now.time() >= kSealAfter) sealDays();
}

void AuditKeeper::resealDays(const QDate& from, const QDate& to, const QString& reason) {
  if (!trail_.isWritable()) return;
  for (QDate d = from; d.isValid() && d <= to; d = d.addDays(1)) {
    if (!sealed_.contains(d)) continue;
    QString detail;
    if (trail_.resealDay(session_.store(), d, reason, &detail) == AuditTrail::SealOutcome::Refused) {
      const QString line = QStringLiteral(u"день %1: %2").arg(d.toString(QStringLiteral("dd.MM.yyyy")), detail);
      trail_.record(AuditKind::TrailBroken, d.toString(Qt::ISODate), line);
      emit trailBroken(brokenText(line));
    }
  }
}

void AuditKeeper::onResult(qint64 seq, const Result& result) {
  // A result of a day already sealed (the clock was set back) joins its seal.
  if (seq == 0 || sealed_.isEmpty() || !trail_.isWritable()) return;
  const QDate day = localDate(result);
  // Sealed again at the next tick, not for every such result.
  if (sealed_.contains(day) && day < seams::currentDateTime().date()) lateDays_.insert(day);
}

void AuditKeeper::resealLateDays() {
  const QSet<QDate> days = std::exchange(lateDays_, {});
  for (const QDate& d : days) resealDays(d, d, QStringLiteral(u"результаты с прошедшей датой"));
}

void AuditKeeper::settingsWritten(const QStringList& paths) {
  if (trail_.isWritable()) watch_.recordWritten(trail_, paths);
}

void AuditKeeper::onEvent(EventKind kind, const QString& text) {
  if (!trail_.isWritable()) return;
  switch (kind) {
    case EventKind::DailyLogWritten:
      trail_.record(AuditKind::DailyLogWritten, text.section(QStringLiteral(": "), 1), text);
      break;
    case EventKind::AlarmAcknowledged:
      trail_.record(AuditKind::AlarmAcknowledged, QString(), text);
      break;
    default:
      break;
  }
}

void AuditKeeper::stop() {
  if (stopped_) return;
  stopped_ = true;
  sealTimer_->setEnabled(false);
  if (trail_.isWritable()) {
    resealLateDays();
    access_.logout(QStringLiteral(u"остановка программы"));
    trail_.record(AuditKind::ProgramStopped, QString(), QStringLiteral(u"Остановка программы"));
  }
  access_.setTrail(nullptr);
  trail_.close();
}

QString AuditKeeper::trailStatement(const QDate& from, const QDate& to) {
  const QString when = seams::currentDateTime().toString(QStringLiteral("dd.MM.yyyy hh:mm"));
  if (!trail_.isOpen() || !session_.store().isOpen())
    return QStringLiteral(u"Журнал аудита не ведётся: нет базы данных результатов");
  TrailCheckScope scope;
  scope.fromDay = from;
  scope.toDay = to;
  const TrailCheck c = checkTrail(trail_, session_.store(), scope);
  if (c.isWhole())
    return QStringLiteral(u"Журнал аудита цел при составлении отчёта (%1; %2, опечатанных дней отчёта: %3)")
        .arg(when, entriesText(c.entries))
        .arg(c.days);
  return QStringLiteral(u"ЖУРНАЛ АУДИТА НАРУШЕН при составлении отчёта (%1): %2").arg(when, c.line);
}
