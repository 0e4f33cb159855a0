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
// clock, falls on the day. SHA-256 of "korvex-day-results/1" NUL and every
// result row gives the results' digest; the results are also hashed in
// blocks of kBlockSize (3,600 rows, an hour at one result a second), so a
// check can say which rows changed. Each average's row has an 8-byte digest
// of its own (the first 8 bytes of its SHA-256), and SHA-256 of
// "korvex-day-averages/1" NUL and every average row gives theirs.

#include <QByteArray>
#include <QDate>
#include <QString>
#include <QVector>
#include <vector>

#include "data/result_store.h"

struct AverageMark {
  int period = 0;
  int intervalMinutes = 0;
  qint64 startUtcMs = 0;
  int32_t startOffset = 0;
  QByteArray digest;  // 8 bytes
};

struct DayDigest {
  static constexpr int kBlockSize = 3600;

  QDate day;
  qint64 resultCount = 0;
  QByteArray results;               // SHA-256, 32 bytes
  QVector<QByteArray> resultBlocks;  // SHA-256 of each block of kBlockSize rows
  int averageCount = 0;
  QByteArray averages;  // SHA-256, 32 bytes
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

// The digest of the day's rows; of the first `resultLimit` results only when
// that is given (a seal made before more results came).
DayDigest digestDay(const QDate& day, const DayRows& rows, qint64 resultLimit = -1);

// What differs between a seal and the day as it is now, in one Russian line
// for the operator ("результаты № 3601–7200 (01:00:00–01:59:59) изменены");
// empty when nothing does. `rows` are the day's rows now, for naming times.
QString describeDifference(const DayDigest& sealed, const DayDigest& now, const DayRows& rows);

// The canonical bytes of one result and one average (above), for tests and
// for tools outside the program.
QByteArray canonicalResult(const StoredResult& result);
QByteArray canonicalAverage(const StoredAverage& average);
