#include "dialogs/history_dialog.h"

#include <QDateEdit>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "platform/glyphs.h"
#include "platform/seams.h"

HistoryDialog::HistoryDialog(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("FormHistory"));
  setWindowTitle(QStringLiteral(u"История результатов"));
  setWindowIcon(glyphs::windowIcon(glyphs::Window::Main));
  auto* root = new QVBoxLayout(this);
  daysLabel_ = new QLabel(this);
  daysLabel_->setObjectName(QStringLiteral("LabelDays"));
  daysLabel_->setWordWrap(true);
  root->addWidget(daysLabel_);
  auto* form = new QFormLayout;
  fromEdit_ = new QDateEdit(this);
  toEdit_ = new QDateEdit(this);
  fromEdit_->setObjectName(QStringLiteral("DateFrom"));
  toEdit_->setObjectName(QStringLiteral("DateTo"));
  for (QDateEdit* edit : {fromEdit_, toEdit_}) {
    edit->setCalendarPopup(true);
    edit->setDisplayFormat(QStringLiteral("dd.MM.yyyy"));
  }
  form->addRow(QStringLiteral(u"с"), fromEdit_);
  form->addRow(QStringLiteral(u"по"), toEdit_);
  root->addLayout(form);
  auto* buttons = new QDialogButtonBox(this);
  QPushButton* show = buttons->addButton(QStringLiteral(u"Показать"), QDialogButtonBox::AcceptRole);
  QPushButton* cancel = buttons->addButton(QStringLiteral(u"Отмена"), QDialogButtonBox::RejectRole);
  show->setObjectName(QStringLiteral("ButtonApply"));
  cancel->setObjectName(QStringLiteral("ButtonCancel"));
  show->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &HistoryDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &HistoryDialog::reject);
  root->addWidget(buttons);
}

void HistoryDialog::setDays(const QVector<QDate>& days) {
  setResult(QDialog::Rejected);
  const QDate last = days.isEmpty() ? seams::currentDateTime().date() : days.last();
  if (days.isEmpty())
    daysLabel_->setText(QStringLiteral(u"В базе данных нет результатов."));
  else
    daysLabel_->setText(QStringLiteral(u"В базе данных результаты с %1 по %2 (%3 сут.).")
                            .arg(days.first().toString(QStringLiteral("dd.MM.yyyy")),
                                 last.toString(QStringLiteral("dd.MM.yyyy")))
                            .arg(days.size()));
  fromEdit_->setDate(last);
  toEdit_->setDate(last);
}

QDate HistoryDialog::from() const { return fromEdit_->date(); }
QDate HistoryDialog::to() const { return toEdit_->date(); }

void HistoryDialog::accept() {
  if (to() < from()) {
    seams::errorBox(this, QStringLiteral(u"Конец периода раньше его начала!"));
    toEdit_->setFocus();
    return;
  }
  QDialog::accept();
}
