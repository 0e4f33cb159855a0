#include "view/results_table_model.h"

#include <QBrush>
#include <QColor>
#include <QStringList>

#include "data/results_log.h"
#include "emissions/result_status.h"
#include "emissions/validation.h"

static_assert(kStatusColumn == kResultColumnCount, "the status column follows the log's columns");

QString shownText(const QString& text) {
  if (text.size() <= kShownCellLength) return text;
  qsizetype length = kShownCellLength;
  if (text.at(length - 1).isHighSurrogate()) --length;  // never half a character
  return text.left(length) + QChar(0x2026);
}

ResultsTableModel::ResultsTableModel(const ResultsLog& log, QObject* parent)
    : QAbstractTableModel(parent), log_(log) {
  connect(&log_, &ResultsLog::rowsAppended, this, &ResultsTableModel::onRowsAppended);
  connect(&log_, &ResultsLog::reset, this, [this] {
    beginResetModel();
    endResetModel();
  });
  connect(&log_, &ResultsLog::headerChanged, this,
          [this] { emit headerDataChanged(Qt::Horizontal, 0, kResultColumnCount - 1); });
}

void ResultsTableModel::onRowsAppended(int first, int last) {
  // The first result fills the empty row that stood for none.
  if (first == 0) {
    emit dataChanged(index(0, 0), index(0, kStatusColumn));
    ++first;
  }
  if (first > last) return;
  beginInsertRows(QModelIndex(), first, last);
  endInsertRows();
}

int ResultsTableModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : std::max(log_.count(), 1);
}

int ResultsTableModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kStatusColumn + 1;
}

QVariant ResultsTableModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  if (index.column() == kStatusColumn) {
    const std::optional<ResultStatus> status =
        index.row() < log_.count() ? log_.status(index.row()) : std::optional<ResultStatus>();
    if (!status) return {};
    if (role == Qt::DisplayRole) return emissions::statusCode(*status);
    if (role == Qt::ToolTipRole) return emissions::statusTitle(*status);
    if (role == Qt::TextAlignmentRole) return int(Qt::AlignCenter);
    // What does not count in the averages stands out.
    if (role == Qt::ForegroundRole && emissions::invalidReason(*status)) return QBrush(QColor(0xb0, 0, 0));
    return {};
  }
  if (role == Qt::DisplayRole) return shownText(log_.cell(index.row(), index.column()));
  if (role == Qt::TextAlignmentRole) return int(Qt::AlignLeft | Qt::AlignVCenter);
  return {};
}

QVariant ResultsTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation == Qt::Horizontal && section == kStatusColumn) {
    if (role == Qt::DisplayRole) return QStringLiteral(u"Статус");
    if (role == Qt::ToolTipRole) {
      QStringList codes;
      for (int k = 0; k < kResultStatusCount; ++k)
        codes << emissions::statusCode(ResultStatus(k)) + QStringLiteral(u" — ") + emissions::statusTitle(ResultStatus(k));
      return QStringLiteral(u"Статус результата: ") + codes.join(QStringLiteral(", "));
    }
  }
  if (orientation == Qt::Horizontal && role == Qt::DisplayRole) return shownText(log_.header(section));
  if (orientation == Qt::Vertical && role == Qt::DisplayRole) return section + 1;
  return QAbstractTableModel::headerData(section, orientation, role);
}

Qt::ItemFlags ResultsTableModel::flags(const QModelIndex& index) const {
  return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}
