#include "dialogs/analyzers_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QSet>
#include <QSpinBox>
#include <QVBoxLayout>

AnalyzersDialog::AnalyzersDialog(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("AnalyzersForm"));
  setWindowTitle(QStringLiteral(u"Анализаторы"));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(QStringLiteral(u"Анализаторы на линии связи (порт настроек):"), this));
  auto* grid = new QGridLayout;
  layout->addLayout(grid);
  firstLabel_ = new QLabel(this);
  grid->addWidget(new QLabel(QStringLiteral(u"1"), this), 0, 0);
  grid->addWidget(firstLabel_, 0, 1, 1, 2);
  for (size_t i = 0; i < used_.size(); ++i) {
    const int slot = int(i) + 2;
    used_[i] = new QCheckBox(QString::number(slot), this);
    used_[i]->setObjectName(QStringLiteral("AnalyzerUsed%1").arg(slot));
    address_[i] = new QSpinBox(this);
    address_[i]->setObjectName(QStringLiteral("AnalyzerAddress%1").arg(slot));
    address_[i]->setRange(1, 247);
    address_[i]->setPrefix(QStringLiteral(u"адрес "));
    grid->addWidget(used_[i], slot - 1, 0);
    grid->addWidget(address_[i], slot - 1, 1);
    connect(used_[i], &QCheckBox::toggled, address_[i], &QWidget::setEnabled);
    connect(used_[i], &QCheckBox::toggled, this, &AnalyzersDialog::checkAddresses);
    connect(address_[i], qOverload<int>(&QSpinBox::valueChanged), this, &AnalyzersDialog::checkAddresses);
  }
  problem_ = new QLabel(this);
  problem_->setStyleSheet(QStringLiteral("color: #b00000"));
  layout->addWidget(problem_);
  layout->addWidget(new QLabel(QStringLiteral(u"Изменения вступят в силу при следующем запуске программы."), this));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  ok_ = buttons->button(QDialogButtonBox::Ok);
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

void AnalyzersDialog::fill(int firstAddress, const QVector<LineAnalyzer>& others) {
  firstAddress_ = firstAddress;
  firstLabel_->setText(QStringLiteral(u"адрес %1 (задаётся в параметрах)").arg(firstAddress));
  for (size_t i = 0; i < used_.size(); ++i) {
    used_[i]->setChecked(false);
    address_[i]->setValue(int(i) + 2);
    address_[i]->setEnabled(false);
  }
  for (const LineAnalyzer& a : others) {
    const size_t i = size_t(a.slot - 2);
    if (i >= used_.size()) continue;
    used_[i]->setChecked(true);
    address_[i]->setValue(a.measuring.address);
  }
  checkAddresses();
}

QVector<QPair<int, int>> AnalyzersDialog::chosen() const {
  QVector<QPair<int, int>> out;
  for (size_t i = 0; i < used_.size(); ++i)
    if (used_[i]->isChecked()) out.append({int(i) + 2, address_[i]->value()});
  return out;
}

void AnalyzersDialog::checkAddresses() {
  QSet<int> seen{firstAddress_};
  QString problem;
  for (const auto& [slot, address] : chosen())
    if (seen.contains(address)) {
      problem = QStringLiteral(u"Адрес %1 занят другим анализатором").arg(address);
      break;
    } else {
      seen.insert(address);
    }
  problem_->setText(problem);
  problem_->setVisible(!problem.isEmpty());
  ok_->setEnabled(problem.isEmpty());
}
