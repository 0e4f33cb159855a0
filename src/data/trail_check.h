#pragma once
// Checking the audit trail: every entry against its own hash and the one
// before it, the end of the chain against the head file, and every sealed
// day's stored results and averages against its seal. What `korvex --verify`
// prints, what the program checks of the newest entries at every start, and
// what an emission report states of the trail.
//
// The guarantees. An entry changed, inserted or removed in the middle of the
// trail breaks the chain. Entries cut off its end are found against the head
// file beside the database (written after every commit), and a trail
// rewritten from the first changed entry on, hashes recomputed, against the
// central copy (entries already copied there keep their hashes). Somebody
// who rewrites the database and the head file together and keeps the
// program from copying to the central database is not caught by the local
// file alone: the hashes carry no secret.
//
// A break the program itself found and recorded (a TrailBroken entry) keeps
// the trail counted as broken for --verify and the reports, though the chain
// goes on whole after it.

#include <QDate>
#include <QString>
#include <functional>

class AuditTrail;
class ResultStore;

struct TrailCheck {
  enum class Status { Whole, Broken, Unreadable };
  Status status = Status::Whole;
  QString line;       // one line in Russian: the first break, or the summary
  qint64 entries = 0;  // entries checked
  int days = 0;        // sealed days checked
  qint64 brokenEntry = 0;  // the entry named, if any
  QDate brokenDay;         // the day named, if any
  bool isWhole() const { return status == Status::Whole; }
};

struct TrailCheckScope {
  int newestEntries = 0;       // 0: every entry; else only the newest ones (and the head)
  int newestDays = -1;         // -1: every sealed day; else the newest n seals
  QDate fromDay, toDay;        // when valid: only the seals of these days
  bool recordedBreaks = true;  // a TrailBroken entry counts as broken
  int threads = 2;             // connections reading days at once (whole-file checks)
  // Whole-file checks of more sealed days than this read every result in
  // one pass instead of day by day through the time index.
  int daysOneByOne = 31;
  // Told how many of the days are checked so far.
  std::function<void(int done, int total)> progress;
};

// Through the open store and trail (one connection, this thread).
TrailCheck checkTrail(const AuditTrail& trail, const ResultStore& store, const TrailCheckScope& scope);
// Of the database file at `dbPath`, opened read-only whether or not an
// instance owns it; the days are read by `scope.threads` connections.
TrailCheck checkTrail(const QString& dbPath, const TrailCheckScope& scope);

// A line for an emission report's foot: the trail and the seals of the days
// from..to checked now through `store` (this thread) and a read-only trail
// of its file.
QString trailStatement(const ResultStore& store, const QDate& from, const QDate& to);

// "5 записей", "1 запись", "22 дня".
QString entriesText(qint64 n);
QString daysText(qint64 n);
