#include "service/audit_keeper.h"

#include <QDir>
#include <utility>

#include "platform/seams.h"
#include "platform/timer.h"

namespace {

// Averages of the day before are completed on the first tick after
// midnight; the seal waits a little longer than that.
const QTime kSealAfter(0, 5);

QDate localDate(const Result& r) {
  return QDateTime::fromMSecsSinceEpoch(r.utcMs + qint64(r.utcOffset) * 1000, Qt::UTC).date();
}

}  // namespace

AuditKeeper::AuditKeeper(QObject* parent) : QObject(parent), sealTimer_(new Timer(60000, this)) {
  connect(sealTimer_, &Timer::timeout, this, &AuditKeeper::onSealTick);
}

AuditKeeper::~AuditKeeper() { stop(); }

QString AuditKeeper::brokenText(const QString& line) {
  return QStringLiteral(u"Журнал аудита нарушен:\r\n%1\r\n"
                        u"Записи журнала или результаты изменены вне программы. Сообщите администратору; "
                        u"«korvex --verify» проверит журнал целиком.")
      .arg(line);
}

void AuditKeeper::open(const QString& dbPath, bool writable, const QString& how) {
  stopped_ = false;
  const QString movedTo = std::exchange(movedTo_, QString());
  watch_.setFiles(watched_);
  QString error;
  if (!trail_.open(dbPath, writable, &error)) {
    emit problem(QStringLiteral(u"Журнал аудита не открывается:\r\n%1").arg(error));
    return;
  }
  // The seals read the results through a connection of their own.
  const ResultStore::OpenResult read = results_.openForReading(dbPath);
  if (!read.isOpen()) emit problem(QStringLiteral(u"Журнал аудита: результаты не читаются:\r\n%1").arg(read.detail));

  // Before anything is recorded: a new entry would move the end of the
  // chain past entries cut off it.
  TrailCheckScope scope;
  scope.newestEntries = 100;
  scope.newestDays = 1;
  scope.recordedBreaks = false;
  startCheck_ = checkTrail(trail_, results_, scope);
  if (!movedTo.isEmpty()) trail_.recordDatabaseMovedAside(movedTo);
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
  emit opened(dbPath);
}

void AuditKeeper::sealDays() {
  if (!trail_.isWritable() || !results_.isOpen()) return;
  const QDate today = seams::currentDateTime().date();
  for (const QDate& d : trail_.sealDaysBefore(results_, today)) sealed_.insert(d);
  sealPassDay_ = today;
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
    if (trail_.resealDay(results_, d, reason, &detail) == AuditTrail::SealOutcome::Refused) {
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

void AuditKeeper::accountsWritten(const QString& path) {
  if (trail_.isWritable()) watch_.acceptWritten(trail_, path);
}

void AuditKeeper::recordSwitch(const QString& what, bool on, const QString& offText, const QString& onText,
                               const QString& text) {
  trail_.record(AuditKind::SettingChanged, what, text, on ? offText : onText, on ? onText : offText);
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
    case EventKind::MaintenanceOn:
      trail_.record(AuditKind::MaintenanceOn, QString(), text);
      break;
    case EventKind::MaintenanceOff:
      trail_.record(AuditKind::MaintenanceOff, QString(), text);
      break;
    // The other switches results' statuses follow, as the settings they are.
    case EventKind::TestGasOn:
    case EventKind::TestGasOff:
      recordSwitch(QStringLiteral(u"Проверка поверочным газом"), kind == EventKind::TestGasOn,
                   QStringLiteral(u"нет"), QStringLiteral(u"идёт"), text);
      break;
    case EventKind::PlantSwitchedOn:
    case EventKind::PlantSwitchedOff:
      recordSwitch(QStringLiteral(u"Установка в работе"), kind == EventKind::PlantSwitchedOn, QStringLiteral(u"нет"),
                   QStringLiteral(u"да"), text);
      break;
    default:
      break;
  }
}

void AuditKeeper::recordSubstitutes(const QString& span, const QString& values, const QString& reason,
                                     const QString& who, int count, const QDate& from, const QDate& to) {
  if (!trail_.isWritable()) return;
  QString text = QStringLiteral(u"Замещающие значения за %1 (результатов: %2); причина: %3").arg(span).arg(count).arg(reason);
  if (!who.isEmpty()) text += QStringLiteral(u"; ввёл: %1").arg(who);
  trail_.record(AuditKind::SubstituteValue, span, text, QString(), values);
  if (from.isValid()) resealDays(from, to, QStringLiteral(u"замещающие значения"));
}

void AuditKeeper::stop() {
  if (stopped_) return;
  stopped_ = true;
  sealTimer_->setEnabled(false);
  if (trail_.isWritable()) {
    resealLateDays();
    trail_.record(AuditKind::ProgramStopped, QString(), QStringLiteral(u"Остановка программы"));
  }
  // The read-only connection first: the last one to close takes the
  // write-ahead log back into the file, which only a writer may do.
  results_.close();
  trail_.close();
}
