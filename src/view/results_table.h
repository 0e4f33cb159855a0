#pragma once
// The results table's contents: a grid of 16 text columns whose row 0 holds
// the header texts. Rows are kept compactly, each as one UTF-8 string with the
// cells separated by TABs (a cell never holds a TAB: every writer splits or
// builds cells without one), packed into fixed-size blocks. That keeps a day
// of one-second results (86,400 rows) to about a hundred bytes a row, and
// appending a row costs the same at any size: nothing already stored is ever
// moved to make room.
//
// As a Qt model it shows row 0 as the horizontal header and rows 1.. as the
// data rows 0.., so a QTableView over it looks like a string grid with one
// fixed header row.

#include <QAbstractTableModel>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class ResultsTable : public QAbstractTableModel {
  Q_OBJECT
 public:
  static constexpr int kColumnCount = 16;

  explicit ResultsTable(QObject* parent = nullptr);

  // Grid access, header row included (row 0).
  int RowCount() const { return int(rows_.size()); }
  void SetRowCount(int count);
  QString Cells(int col, int row) const;
  void SetCell(int col, int row, const QString& text);
  QStringList Row(int row) const;
  // Replaces the whole row (missing cells become empty, extra ones are dropped).
  void SetRow(int row, const QStringList& cells);
  // The row's cells as stored: UTF-8, separated by TABs. Valid until the
  // table is next changed.
  std::string_view RowText(int row) const;
  // Takes a row given as UTF-8 cells separated by TABs (at most 16 cells).
  void SetRowText(int row, std::string_view text);
  // Appends an empty row and returns its index.
  int AddRow();

  // Between these, changes are not announced to views one by one; the end
  // announces one reset. For bulk loading.
  void BeginUpdate();
  void EndUpdate();

  // Bytes held (for the memory figures of the benchmarks).
  size_t MemoryUsage() const;

  // QAbstractTableModel
  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

 private:
  static constexpr uint32_t kBlockSize = 64 * 1024;
  struct Block {
    std::unique_ptr<char[]> bytes;
    uint32_t capacity;
    uint32_t used;
  };
  struct Span {
    uint32_t block;
    uint32_t offset;
    uint32_t length;
  };
  void Store(int row, std::string_view text);
  Span Place(std::string_view text);
  void CompactIfWasteful();

  std::vector<Block> blocks_;
  std::deque<Span> rows_;  // a deque grows without moving what it holds
  size_t live_ = 0;        // bytes of the rows' texts
  size_t garbage_ = 0;     // bytes of texts since replaced or removed
  int updateDepth_ = 0;
};
