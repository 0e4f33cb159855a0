#pragma once
// The history dialog ("История результатов"): a day or a range of days of
// the results database to show in the table and the chart.

#include <QDate>
#include <QDialog>
#include <QVector>

#include "dialogs/day_range.h"

class HistoryDialog : public QDialog {
  Q_OBJECT
 public:
  explicit HistoryDialog(QWidget* parent = nullptr);

  // The days the database holds results of (ascending); the range offered
  // starts as the last of them.
  void setDays(const QVector<QDate>& days);
  QDate from() const;
  QDate to() const;

  // "Показать": a range that ends before it begins is refused.
  void accept() override;

 private:
  DayRange range_;
};
