#pragma once
// The results of the day (or of an opened data file) as numbers: for each
// result its date-time, the twelve channels as measured and derived (the
// analyzer's special codes kept) and the fault bits. The results table, the
// chart, the daily log, the data files and the printout all work from here;
// the texts they show are made from the numbers when they are needed.
//
// Rows read from a data file keep the text of their cells exactly as the file
// had it (Windows-1251 bytes), beside the values read from them: a file the
// program did not write may hold texts it would never make, and saving such a
// file again must give back what was read. They always come first: loading
// replaces everything, and taken results are appended after them. A cell is
// kept as the few bits that make its text again from the row's value (a
// number's count of decimals, the date among the file's dates, the time of
// day, the fault bits) in the room a taken result uses for its date-time and
// fault bits; only a text that cannot be made so is kept as it is. A file of
// the program's own takes no more memory than its taken results did.
//
// Appending costs the same at any size: rows live in fixed-size chunks that
// are never moved.

#include <QObject>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/result.h"
#include "data/value_format.h"

class ResultsLog : public QObject {
  Q_OBJECT
 public:
  explicit ResultsLog(QObject* parent = nullptr);
  ~ResultsLog() override;

  int count() const { return count_; }
  bool isEmpty() const { return count_ == 0; }

  // The program date-time of a row (days since 30 December 1899, local time);
  // NaN for a row read from a file.
  double dateTime(int row) const {
    return row < loadedCount_ ? std::numeric_limits<double>::quiet_NaN() : at(row).dateTime[offset(row)];
  }
  // 0 for a row read from a file.
  int32_t faultBits(int row) const { return row < loadedCount_ ? 0 : at(row).faultBits[offset(row)]; }
  // The status decided when the result was taken; none for a row read from
  // a file (the data files do not hold it).
  std::optional<ResultStatus> status(int row) const {
    if (row < loadedCount_) return std::nullopt;
    return ResultStatus(at(row).status[offset(row)]);
  }
  // A channel's value as the row holds it.
  double value(int row, int ch) const { return at(row).values[ch][offset(row)]; }
  ChannelValues values(int row) const;
  // What the chart plots: the value as a file held it, or a taken result's
  // value through the channel's plotting rule.
  double plottedValue(int row, int ch) const {
    const double v = value(row, ch);
    return row < loadedCount_ ? v : ::plottedValue(ch, v);
  }

  // Rows read from a data file (they come first).
  int loadedCount() const { return loadedCount_; }
  bool isLoaded(int row) const { return row < loadedCount_; }
  // A loaded row's cells as the file held them: Windows-1251, separated by
  // TABs, at most 16; empty for a taken result.
  std::string loadedCells(int row) const;
  // The same, appended to `out`.
  void appendLoadedCells(int row, std::string& out) const;

  // Text of a cell as shown, written and printed.
  QString cell(int row, int column) const;
  QStringList cells(int row) const;

  // The column headings, as Windows-1251 bytes and as text.
  const std::string& headerBytes(int column) const { return header_[size_t(column)]; }
  QString header(int column) const;
  // Takes the headings from a file's first line: `cells` holds `count` cells
  // (Windows-1251, separated by TABs), each replacing the heading of its
  // column. A short line (or one without any cell) leaves the headings it
  // does not reach as they were.
  void setHeaderCells(std::string_view cells, int count);

  // A taken result; true while results are appended that no file holds.
  int append(const Result& result);
  bool unsaved() const { return unsaved_; }
  // Back to no rows and the standard headings kept as they are.
  void clear();

  // Bulk loading: between begin and end, append and appendLoaded add rows
  // without announcing each; end announces the whole log replaced.
  // `values` are what the cells' texts were read as: a number cell kept as
  // its count of decimals gives back its text only from its value. `fields`
  // (the cells split at their TABs), when the caller has them, save
  // splitting them again.
  void beginLoad();
  void appendLoaded(const ChannelValues& values, std::string_view cells);
  void appendLoaded(const ChannelValues& values, std::string_view cells, const std::string_view* fields,
                    int count);
  void endLoad();

  // Bytes held (for the memory figures of the benchmarks).
  size_t memoryUsage() const;

 signals:
  void rowsAppended(int first, int last);
  // Everything replaced: cleared, or loaded.
  void reset();
  void headerChanged();

 private:
  static constexpr int kChunkBits = 12;
  static constexpr int kChunkRows = 1 << kChunkBits;
  struct Chunk {
    double dateTime[kChunkRows];
    int32_t faultBits[kChunkRows];
    uint8_t status[kChunkRows];
    double values[kChannelCount][kChunkRows];
  };
  const Chunk& at(int row) const { return *chunks_[size_t(row >> kChunkBits)]; }
  static int offset(int row) { return row & (kChunkRows - 1); }
  int addRow(double dateTime, int32_t faultBits, const ChannelValues& values);
  // A loaded row's bits for its cells (see results_log.cpp) and the texts
  // kept for it, joined by TABs (empty when none).
  uint64_t loadedForm(int row) const;
  uint32_t loadedShapes(int row) const;
  std::string_view keptText(int row) const;
  void appendCell(int row, int column, uint64_t form, uint32_t shapes, std::string_view& kept, std::string& out) const;

  std::vector<std::unique_ptr<Chunk>> chunks_;
  int count_ = 0;
  int loadedCount_ = 0;
  // Texts of loaded rows that could not be made again from their values,
  // each row's ended by a line feed (no cell holds one), in row order; per
  // 64 rows which of them have any and where the first of them starts.
  std::vector<uint64_t> keptBits_;
  std::vector<uint32_t> keptBlockStart_;
  std::string keptText_;
  // The dates of the loaded rows' date cells, each once.
  std::vector<std::string> dates_;
  char separator_ = ',';  // the decimal separator the loaded numbers were read with
  std::array<std::string, kResultColumnCount> header_;
  bool unsaved_ = false;
  bool loading_ = false;
};
