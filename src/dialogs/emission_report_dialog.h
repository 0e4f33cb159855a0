#pragma once
// The emission report dialog ("Отчёт о выбросах"): a day or a range of days,
// the report of it on screen (interval averages with their validity, each
// day's average, the exceedances), and the commands that print it, save it
// as PDF and export it as CSV with the separator chosen here. The window
// does the printing and the saving (the print layer comes after this one):
// it is told by the request signals, while the dialog stays open. A double
// click on an interval's or a day's row opens "Как получено значение" for
// the component of the column clicked, when the window gave the source of
// explanations.

#include <QDate>
#include <QDialog>
#include <QVector>
#include <functional>

#include "dialogs/day_range.h"
#include "emissions/emission_report.h"
#include "emissions/explanation.h"
#include "emissions/report_csv.h"
#include "emissions/report_table.h"

class ExplanationDialog;
class QComboBox;
class QPlainTextEdit;
class QStandardItemModel;
class QTableView;

class EmissionReportDialog : public QDialog {
  Q_OBJECT
 public:
  explicit EmissionReportDialog(QWidget* parent = nullptr);

  // What makes the report of a range; `intervalMinutes` labels it.
  using Source = std::function<emissions::EmissionReport(const QDate& from, const QDate& to)>;
  void setSource(Source source, int intervalMinutes);
  // The days the database holds results of; the range offered starts as the last.
  void setDays(const QVector<QDate>& days);
  QDate from() const;
  QDate to() const;

  // Makes the report of the range shown ("Сформировать"); false, with a
  // message, when the range ends before it begins.
  bool build();
  // The report of the range shown, made first if the range changed.
  const emissions::EmissionReport& report();
  const emissions::ReportTable& table();
  emissions::CsvFormat csvFormat() const;
  // A file name for the range, without extension: "emissions-2026-12-01-2026-12-07".
  QString baseName() const;

  // What explains a row of the report: one explanation per component.
  using ExplainSource = std::function<QVector<emissions::AverageExplanation>(const emissions::ReportRow& row)>;
  void setExplainSource(ExplainSource source) { explain_ = std::move(source); }
  // Opens "Как получено значение" for row `row` of the report, on the
  // component of table column `column` (CO for the others); false when
  // there is nothing to explain.
  bool explainRow(int row, int column);
  ExplanationDialog* explanationDialog() const { return explanation_; }

 signals:
  void printRequested();
  void pdfRequested();
  void csvRequested();

 private:
  bool upToDate() const { return built_ && builtFrom_ == from() && builtTo_ == to(); }
  void request(void (EmissionReportDialog::*signal)());

  Source source_;
  ExplainSource explain_;
  ExplanationDialog* explanation_ = nullptr;
  int intervalMinutes_ = 30;
  DayRange range_;
  QComboBox* separatorCombo_;
  QTableView* view_;
  QStandardItemModel* model_;
  QPlainTextEdit* exceedances_;
  emissions::EmissionReport report_;
  emissions::ReportTable table_;
  bool built_ = false;
  QDate builtFrom_, builtTo_;
};
