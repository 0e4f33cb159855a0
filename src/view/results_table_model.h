#pragma once
// The results table's model: the results log shown as 16 text columns under
// the log's headings, one row per result, and a last column with each taken
// result's status (a short code, its full text as the tooltip; empty for a
// row read from a data file). With no results it shows one empty row, where
// the first result then appears. Texts are made as they are shown.

#include <QAbstractTableModel>

class ResultsLog;

// The status column, after the log's own.
inline constexpr int kStatusColumn = 16;

// The most characters of a cell the table draws. Laying out a whole cell of a
// megabyte took a quarter of a second each paint; no column shows more than
// this anyway. The cell itself stays whole in the log and in the files.
inline constexpr int kShownCellLength = 256;
// `text` as the table draws it: a longer one cut to kShownCellLength
// characters and an ellipsis.
QString shownText(const QString& text);

class ResultsTableModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  explicit ResultsTableModel(const ResultsLog& log, QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

 private:
  void onRowsAppended(int first, int last);

  const ResultsLog& log_;
};
