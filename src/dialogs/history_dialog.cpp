#include "dialogs/history_dialog.h"

#include <QDateEdit>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/glyphs.h"
#include "ui/widget_seams.h"

HistoryDialog::HistoryDialog(QWidget* parent) : QDialog(parent), range_(this) {
  setObjectName(QStringLiteral("FormHistory"));
  setWindowTitle(QStringLiteral(u"История результатов"));
  setWindowIcon(glyphs::windowIcon(glyphs::Window::Main));
  auto* root = new QVBoxLayout(this);
  root->addWidget(range_.daysLabel());
  auto* form = new QFormLayout;
  form->addRow(QStringLiteral(u"с"), range_.fromEdit());
  form->addRow(QStringLiteral(u"по"), range_.toEdit());
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
  seams::fitTitle(this);
}

void HistoryDialog::setDays(const QVector<QDate>& days) {
  setResult(QDialog::Rejected);
  range_.setDays(days);
}

QDate HistoryDialog::from() const { return range_.from(); }
QDate HistoryDialog::to() const { return range_.to(); }

void HistoryDialog::accept() {
  if (range_.checkOrder(this)) QDialog::accept();
}
