#pragma once
// The report as a table model for a view or a printout: the CSV's columns,
// display texts in the given format, the raw values under Qt::UserRole.

#include <QAbstractTableModel>

#include "emissions/emission_report.h"
#include "emissions/report_csv.h"

namespace emissions {

class EmissionReportModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  explicit EmissionReportModel(QObject* parent = nullptr);

  void setReport(const EmissionReport& report);
  const EmissionReport& report() const { return report_; }
  // Decimal sign and places of the display texts.
  void setFormat(const CsvFormat& format);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  // DisplayRole: the CSV field. UserRole: QDateTime with offset for the
  // times, double for a mean (none without valid results), int for counts,
  // bool for validity, int(Exceedance) for exceedances.
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;

 private:
  EmissionReport report_;
  CsvFormat format_;
};

}  // namespace emissions
