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
//
// A report is computed elsewhere, in the background (a year's takes a
// while): the dialog asks its source for one, shows the progress with a
// cancel button meanwhile, and shows the report when it is handed back. A
// command given before the report of the range shown is there waits for it.

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
class QProgressBar;
class QPushButton;
class QStandardItemModel;
class QTableView;

class EmissionReportDialog : public QDialog {
  Q_OBJECT
 public:
  explicit EmissionReportDialog(QWidget* parent = nullptr);

  // What starts making the report of a range; it comes back through
  // showReport (or showFailure). `intervalMinutes` labels it.
  using Source = std::function<void(const QDate& from, const QDate& to)>;
  void setSource(Source source, int intervalMinutes);
  // The days the database holds results of; the range offered starts as the last.
  void setDays(const QVector<QDate>& days);
  QDate from() const;
  QDate to() const;

  // Asks for the report of the range shown ("Сформировать"); false, with a
  // message, when the range ends before it begins.
  bool build();
  // The report asked for last, shown.
  void showReport(const emissions::EmissionReport& report);
  void showProgress(int percent);
  // It could not be made: the reason is shown instead.
  void showFailure(const QString& why);
  bool building() const { return building_; }
  // The report of the range shown, once it is there (upToDate()).
  bool upToDate() const { return built_ && builtFrom_ == from() && builtTo_ == to(); }
  const emissions::EmissionReport& report() const { return report_; }
  const emissions::ReportTable& table() const { return table_; }
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
  // "Отмена" while a report is being made.
  void cancelRequested();

 private:
  void request(void (EmissionReportDialog::*signal)());
  void setBuilding(bool building);

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
  bool building_ = false;
  QDate buildingFrom_, buildingTo_;
  QVector<void (EmissionReportDialog::*)()> pending_;  // commands waiting for the report, in order
  QProgressBar* progress_;
  QPushButton* cancelButton_;
  QPushButton* buildButton_;
};
