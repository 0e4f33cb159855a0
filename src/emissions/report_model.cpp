#include "emissions/report_model.h"

#include <QDateTime>

namespace emissions {

EmissionReportModel::EmissionReportModel(QObject* parent) : QAbstractTableModel(parent) {}

void EmissionReportModel::setReport(const EmissionReport& report) {
  beginResetModel();
  report_ = report;
  endResetModel();
}

void EmissionReportModel::setFormat(const CsvFormat& format) {
  beginResetModel();
  format_ = format;
  endResetModel();
}

int EmissionReportModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : int(report_.rows().size());
}

int EmissionReportModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : report_column::kCount;
}

QVariant EmissionReportModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount() || index.column() >= columnCount()) return {};
  const ReportRow& row = report_.rows()[index.row()];
  const int col = index.column();
  if (role == Qt::DisplayRole) return reportRowFields(row, format_).value(col);
  if (role != Qt::UserRole) return {};

  switch (col) {
    case report_column::Kind:
      return int(row.kind);
    case report_column::Start:
      return QDateTime::fromMSecsSinceEpoch(row.startUtcMs, QTimeZone(row.startOffset));
    case report_column::End:
      return QDateTime::fromMSecsSinceEpoch(row.endUtcMs, QTimeZone(row.endOffset));
    case report_column::Count:
      return row.count;
    default:
      break;
  }
  const int k = (col - report_column::FirstComponent) / report_column::kPerComponent;
  const ComponentAverage& a = row.components[size_t(k)];
  switch ((col - report_column::FirstComponent) % report_column::kPerComponent) {
    case report_column::Mean:
      return a.count > 0 ? QVariant(a.mean) : QVariant();
    case report_column::ComponentCount:
      return a.count;
    case report_column::Valid:
      return a.valid;
    case report_column::Exceeded:
      return int(row.exceedances[size_t(k)]);
  }
  return {};
}

QVariant EmissionReportModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  return reportHeader().value(section);
}

}  // namespace emissions
