#pragma once
// "Как получено значение": how an interval's or a day's average came about,
// one component at a time (the combo box): the results of the interval with
// each step from the reading to mg/m3 at the reference O2 and the status of
// each, or the intervals of the day; below, the mean, the confidence
// interval subtracted, the validated value and the rule that made it valid
// or not. "Экспорт CSV..." writes the same for every component.

#include <QDialog>
#include <QVector>

#include "emissions/explanation.h"
#include "emissions/report_csv.h"

class QComboBox;
class QLabel;
class QPlainTextEdit;
class QStandardItemModel;
class QTableView;

class ExplanationDialog : public QDialog {
  Q_OBJECT
 public:
  explicit ExplanationDialog(QWidget* parent = nullptr);

  // One explanation per component, in component order; `component` shown
  // first. `baseName` is the CSV file's proposed name without extension.
  void setExplanation(const QVector<emissions::AverageExplanation>& perComponent, emissions::Component component,
                      const emissions::CsvFormat& format, const QString& baseName);
  emissions::Component component() const;
  // The table's rows shown: the interval's results or the day's intervals.
  int rowCount() const;

  // Asks for a file name and writes the CSV there; false when it was not written.
  bool exportCsv();

 private:
  void showComponent(int componentIndex);

  QVector<emissions::AverageExplanation> explanations_;
  emissions::CsvFormat format_;
  QString baseName_;
  QLabel* title_;
  QComboBox* componentCombo_;
  QTableView* view_;
  QStandardItemModel* model_;
  QPlainTextEdit* rule_;
};
