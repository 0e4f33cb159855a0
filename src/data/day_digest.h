#pragma once
// The digest of a local day's stored results and emission averages that a
// seal puts into the audit trail, and what differs between two of them.
//
// It is taken over a canonical form of the rows as ResultStore reads them
// back (values as doubles, bit for bit), not over SQLite's storage format, so
// a change in how the database stores a result does not break a seal:
//
//   a result, in the order of sequence numbers, 125 bytes, little-endian:
//     seq int64, utcMs int64, utcOffset int32, faultBits int32,
//     mode uint8, fuel row uint8, address uint8, status uint8,
//     the twelve channels in channel order as IEEE 754 doubles (special
//     codes as the values they stand for; a value that is no number as the
//     quiet NaN 0x7FF8000000000000), then 0x0A.
//   an average, ordered by (period, interval length, start), 90 bytes:
//     period uint8, intervalMinutes int32, startUtcMs int64, endUtcMs int64,
//     startOffset int32, endOffset int32, count int32, then per component
//     (CO, NOx, SO2, H2S) mean double, count int32, valid uint8,
//     exceedance uint8, then 0x0A.
//
// The day's results are those whose local date (by each result's own
// offset) is the day; its averages those whose start, on its own local
// clock, falls on the day. The results are hashed in blocks by sequence
// number: block b holds the day's results with b * kBlockSize <= seq <
// (b + 1) * kBlockSize (at one result a second a block is 68 minutes). A
// block's digest is BLAKE2b-256 (libsodium's crypto_generichash) of its
// result rows; the results' digest is BLAKE2b-256 of "korvex-day-results/1"
// NUL, then for each block in order its number (int64) and its digest. So
// a check names the rows that changed, and a check of a whole database can
// read the results in several parts at once: no block spans two parts.
// Each average's row has an 8-byte digest of its own (the first 8 bytes of
// its BLAKE2b-256), and BLAKE2b-256 of "korvex-day-averages/1" NUL and every
// average row gives theirs. BLAKE2b rather than SHA-256 (the chain's) for
// speed: a year of results is 4 GB of rows to hash when it is checked.

#include <QByteArray>
#include <QDate>
#include <QString>
#include <QVector>
#include <memory>
#include <vector>

#include "data/result_store.h"

struct AverageMark {
  int period = 0;
  int intervalMinutes = 0;
  qint64 startUtcMs = 0;
  int32_t startOffset = 0;
  QByteArray digest;  // 8 bytes
};

// A block of a day's results.
struct ResultBlock {
  qint64 index = 0;  // seq / kBlockSize
  qint64 count = 0;
  qint64 firstSeq = 0, lastSeq = 0;
  QByteArray digest;  // BLAKE2b-256 of its rows
  // Of its first and last result, to name them; not part of a seal.
  qint64 firstUtcMs = 0, lastUtcMs = 0;
  int32_t firstOffset = 0, lastOffset = 0;
};

struct DayDigest {
  static constexpr qint64 kBlockSize = 4096;

  QDate day;
  qint64 resultCount = 0;
  qint64 lastSeq = 0;  // the highest sequence number among them
  QByteArray results;  // BLAKE2b-256, 32 bytes
  QVector<ResultBlock> blocks;
  int averageCount = 0;
  QByteArray averages;  // BLAKE2b-256, 32 bytes
  QVector<AverageMark> averageMarks;

  // The seal's text in the trail (compact JSON) and back; false when it is
  // not one.
  QString toText() const;
  static bool fromText(const QString& text, DayDigest* out);
  bool operator==(const DayDigest& o) const;
};

// The rows the digest covers, read through the store.
struct DayRows {
  std::vector<StoredResult> results;  // by sequence number
  QVector<StoredAverage> averages;    // by period, interval length, start
};
// False, with `error`, when the store cannot be read.
bool readDayRows(const ResultStore& store, const QDate& day, DayRows* rows, QString* error = nullptr);

// A day's digest taken as its rows come: results in the order of sequence
// numbers, averages in theirs, in any mix. A check of a whole database
// streams every result through one of these per day, in one pass or in
// parts read at once whose digesters are joined afterwards.
class DayDigester {
 public:
  explicit DayDigester(const QDate& day);
  void addResult(const StoredResult& result);
  void addAverage(const StoredAverage& average);
  // The results of `later` (of the same day, every one after this one's
  // last) join this one's; its averages are not taken.
  void join(DayDigester& later);
  qint64 resultCount() const { return digest_.resultCount; }
  // The digest; the digester is used up.
  DayDigest finish();

 private:
  void closeBlock();
  struct State;
  DayDigest digest_;
  std::shared_ptr<State> state_;
};

// The digest of the day's rows; of those up to sequence number `lastSeq`
// only when that is given (a seal made before more results came).
DayDigest digestDay(const QDate& day, const DayRows& rows, qint64 lastSeq = -1);

// What differs between a seal and the day as it is now, in one Russian line
// for the operator ("результаты № 3601–7200 (01:00:00–01:59:59) изменены");
// empty when nothing does. `now` was digested from the rows as they are.
QString describeDifference(const DayDigest& sealed, const DayDigest& now);

// The canonical bytes of one result and one average (above), for tests and
// for tools outside the program.
QByteArray canonicalResult(const StoredResult& result);
QByteArray canonicalAverage(const StoredAverage& average);
