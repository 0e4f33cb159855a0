#include "view/results_table.h"

#include <QFont>
#include <algorithm>
#include <climits>

namespace {
// The cell `col` of a TAB-separated row.
std::string_view CellOf(std::string_view row, int col) {
  size_t start = 0;
  for (int c = 0; c < col; ++c) {
    const size_t tab = row.find('\t', start);
    if (tab == std::string_view::npos) return {};
    start = tab + 1;
  }
  const size_t end = row.find('\t', start);
  return row.substr(start, end == std::string_view::npos ? row.size() - start : end - start);
}

std::string JoinCells(const QStringList& cells) {
  std::string out;
  const int n = std::min<int>(int(cells.size()), ResultsTable::kColumnCount);
  for (int i = 0; i < n; ++i) {
    if (i) out.push_back('\t');
    QString cell = cells[i];
    cell.replace(QLatin1Char('\t'), QLatin1Char(' '));
    out += cell.toStdString();
  }
  return out;
}
}  // namespace

ResultsTable::ResultsTable(QObject* parent) : QAbstractTableModel(parent) {}

void ResultsTable::SetRowCount(int count) {
  if (count < 0) count = 0;
  const int old = RowCount();
  if (count == old) return;
  const bool announce = updateDepth_ == 0;
  // View rows are grid rows less the header.
  const int oldView = std::max(old - 1, 0), newView = std::max(count - 1, 0);
  if (count > old) {
    if (announce && newView > oldView) beginInsertRows(QModelIndex(), oldView, newView - 1);
    rows_.resize(size_t(count), Span{0, 0, 0});
    if (announce && newView > oldView) endInsertRows();
  } else {
    if (announce && newView < oldView) beginRemoveRows(QModelIndex(), newView, oldView - 1);
    for (int r = count; r < old; ++r) {
      live_ -= rows_[size_t(r)].length;
      garbage_ += rows_[size_t(r)].length;
    }
    rows_.resize(size_t(count));
    rows_.shrink_to_fit();
    CompactIfWasteful();
    if (announce && newView < oldView) endRemoveRows();
  }
  if (announce && (old == 0) != (count == 0)) emit headerDataChanged(Qt::Horizontal, 0, kColumnCount - 1);
}

QString ResultsTable::Cells(int col, int row) const {
  if (row < 0 || row >= RowCount() || col < 0 || col >= kColumnCount) return {};
  const std::string_view cell = CellOf(RowText(row), col);
  return QString::fromUtf8(cell.data(), qsizetype(cell.size()));
}

QStringList ResultsTable::Row(int row) const {
  QStringList cells;
  cells.reserve(kColumnCount);
  const std::string_view text = RowText(row);
  size_t start = 0;
  for (int c = 0; c < kColumnCount; ++c) {
    if (start > text.size()) {
      cells << QString();
      continue;
    }
    size_t end = text.find('\t', start);
    if (end == std::string_view::npos) end = text.size();
    cells << QString::fromUtf8(text.data() + start, qsizetype(end - start));
    start = end + 1;
  }
  return cells;
}

void ResultsTable::SetCell(int col, int row, const QString& text) {
  if (row < 0 || row >= RowCount() || col < 0 || col >= kColumnCount) return;
  QStringList cells = Row(row);
  cells[col] = text;
  SetRow(row, cells);
}

void ResultsTable::SetRow(int row, const QStringList& cells) {
  if (row < 0 || row >= RowCount()) return;
  Store(row, JoinCells(cells));
}

std::string_view ResultsTable::RowText(int row) const {
  if (row < 0 || row >= RowCount()) return {};
  const Span s = rows_[size_t(row)];
  if (s.length == 0) return {};
  return std::string_view(blocks_[s.block].bytes.get() + s.offset, s.length);
}

void ResultsTable::SetRowText(int row, std::string_view text) {
  if (row < 0 || row >= RowCount()) return;
  // Keep at most 16 cells.
  size_t pos = 0;
  for (int c = 0; c < kColumnCount; ++c) {
    const size_t tab = text.find('\t', pos);
    if (tab == std::string_view::npos) {
      pos = std::string_view::npos;
      break;
    }
    pos = tab + 1;
  }
  if (pos != std::string_view::npos) text = text.substr(0, pos - 1);
  Store(row, text);
}

int ResultsTable::AddRow() {
  SetRowCount(RowCount() + 1);
  return RowCount() - 1;
}

ResultsTable::Span ResultsTable::Place(std::string_view text) {
  if (text.empty()) return Span{0, 0, 0};
  const size_t size = text.size();
  if (blocks_.empty() || blocks_.back().capacity - blocks_.back().used < size) {
    // A row longer than a block (only a strange data file has one) gets a block of its own.
    const uint32_t capacity = uint32_t(std::max<size_t>(kBlockSize, size));
    blocks_.push_back(Block{std::make_unique<char[]>(capacity), capacity, 0});
  }
  Block& b = blocks_.back();
  const Span s{uint32_t(blocks_.size() - 1), b.used, uint32_t(size)};
  std::copy(text.begin(), text.end(), b.bytes.get() + b.used);
  b.used += uint32_t(size);
  return s;
}

void ResultsTable::Store(int row, std::string_view text) {
  // Rows are at most 16 cells of a line; a text beyond 4 GB cannot come from one.
  if (text.size() > UINT32_MAX / 2) text = text.substr(0, UINT32_MAX / 2);
  Span& old = rows_[size_t(row)];
  live_ -= old.length;
  garbage_ += old.length;
  old = Place(text);
  live_ += text.size();
  if (updateDepth_ == 0) {
    if (row == 0)
      emit headerDataChanged(Qt::Horizontal, 0, kColumnCount - 1);
    else
      emit dataChanged(index(row - 1, 0), index(row - 1, kColumnCount - 1));
  }
  CompactIfWasteful();
}

// Rewritten and removed rows leave their old text behind; once that is most
// of what is held, the live rows are copied into fresh blocks.
void ResultsTable::CompactIfWasteful() {
  if (garbage_ == 0) return;
  if (live_ == 0) {
    blocks_.clear();
    blocks_.shrink_to_fit();
    garbage_ = 0;
    return;
  }
  if (garbage_ < kBlockSize || garbage_ < live_) return;
  std::vector<Block> old;
  old.swap(blocks_);
  for (Span& s : rows_) {
    if (s.length == 0) continue;
    s = Place(std::string_view(old[s.block].bytes.get() + s.offset, s.length));
  }
  garbage_ = 0;
}

void ResultsTable::BeginUpdate() {
  if (updateDepth_++ == 0) beginResetModel();
}

void ResultsTable::EndUpdate() {
  if (updateDepth_ > 0 && --updateDepth_ == 0) {
    endResetModel();
    emit headerDataChanged(Qt::Horizontal, 0, kColumnCount - 1);
  }
}

size_t ResultsTable::MemoryUsage() const {
  size_t bytes = sizeof(*this) + blocks_.capacity() * sizeof(Block);
  for (const Block& b : blocks_) bytes += b.capacity;
  // A deque keeps its elements in 512-byte nodes and a map of node pointers.
  const size_t perNode = std::max<size_t>(1, 512 / sizeof(Span));
  const size_t nodes = (rows_.size() + perNode - 1) / perNode;
  return bytes + nodes * (512 + sizeof(void*));
}

int ResultsTable::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : std::max(RowCount() - 1, 0);
}

int ResultsTable::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumnCount;
}

QVariant ResultsTable::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  if (role == Qt::DisplayRole) return Cells(index.column(), index.row() + 1);
  if (role == Qt::TextAlignmentRole) return int(Qt::AlignLeft | Qt::AlignVCenter);
  return {};
}

QVariant ResultsTable::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation == Qt::Horizontal && role == Qt::DisplayRole) return Cells(section, 0);
  if (orientation == Qt::Vertical && role == Qt::DisplayRole) return section + 1;
  return QAbstractTableModel::headerData(section, orientation, role);
}

Qt::ItemFlags ResultsTable::flags(const QModelIndex& index) const {
  return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}
