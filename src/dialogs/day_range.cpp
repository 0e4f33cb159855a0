#include "dialogs/day_range.h"

#include <QDateEdit>
#include <QLabel>

#include "platform/seams.h"
#include "ui/widget_seams.h"

namespace {

const QString kDate = QStringLiteral("dd.MM.yyyy");

}  // namespace

DayRange::DayRange(QWidget* owner)
    : daysLabel_(new QLabel(owner)), fromEdit_(new QDateEdit(owner)), toEdit_(new QDateEdit(owner)) {
  daysLabel_->setObjectName(QStringLiteral("LabelDays"));
  daysLabel_->setWordWrap(true);
  fromEdit_->setObjectName(QStringLiteral("DateFrom"));
  toEdit_->setObjectName(QStringLiteral("DateTo"));
  for (QDateEdit* edit : {fromEdit_, toEdit_}) {
    edit->setCalendarPopup(true);
    edit->setDisplayFormat(kDate);
  }
}

void DayRange::setDays(const QVector<QDate>& days) {
  const QDate last = days.isEmpty() ? seams::currentDateTime().date() : days.last();
  if (days.isEmpty())
    daysLabel_->setText(QStringLiteral(u"В базе данных нет результатов."));
  else
    daysLabel_->setText(QStringLiteral(u"В базе данных результаты с %1 по %2 (%3 сут.).")
                            .arg(days.first().toString(kDate), last.toString(kDate))
                            .arg(days.size()));
  fromEdit_->setDate(last);
  toEdit_->setDate(last);
}

QDate DayRange::from() const { return fromEdit_->date(); }
QDate DayRange::to() const { return toEdit_->date(); }

bool DayRange::checkOrder(QWidget* owner) const {
  if (to() >= from()) return true;
  seams::errorBox(owner, QStringLiteral(u"Конец периода раньше его начала!"));
  toEdit_->setFocus();
  return false;
}
