#pragma once
// The days the results database holds and a range of them to choose, as the
// history and the emission report dialogs offer it: a line naming the days
// ("LabelDays") and the first and last day ("DateFrom", "DateTo"). Each
// dialog lays the widgets out its own way.

#include <QDate>
#include <QVector>

class QDateEdit;
class QLabel;
class QWidget;

class DayRange {
 public:
  // The widgets are children of `owner`.
  explicit DayRange(QWidget* owner);

  QLabel* daysLabel() const { return daysLabel_; }
  QDateEdit* fromEdit() const { return fromEdit_; }
  QDateEdit* toEdit() const { return toEdit_; }

  // The days with results (ascending): named in the label; the range starts
  // as the last of them (today when there are none).
  void setDays(const QVector<QDate>& days);
  QDate from() const;
  QDate to() const;
  // False, after the error box over `owner`, when the range ends before it begins.
  bool checkOrder(QWidget* owner) const;

 private:
  QLabel* daysLabel_;
  QDateEdit* fromEdit_;
  QDateEdit* toEdit_;
};
