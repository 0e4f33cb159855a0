#include "dialogs/substitutes_dialog.h"

#include <QDateTimeEdit>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "dialogs/dialog_controls.h"
#include "dialogs/number_text.h"
#include "platform/seams.h"
#include "ui/glyphs.h"
#include "ui/widget_seams.h"

namespace {

// Either decimal sign: values are copied from a record written one way or the other.
std::optional<double> readDecimal(const QString& text) {
  QString t = text.trimmed();
  const QChar sign = decimalSeparator();
  t.replace(QLatin1Char('.'), sign).replace(QLatin1Char(','), sign);
  return readFloat(t);
}

QString unitText(int ch) { return ch == channel::O2 ? QStringLiteral("%") : QStringLiteral("ppm"); }

}  // namespace

SubstitutesDialog::SubstitutesDialog(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("FormSubstitutes"));
  setWindowTitle(QStringLiteral(u"Замещающие значения"));
  setWindowIcon(glyphs::windowIcon(glyphs::Window::Main));
  auto* root = new QVBoxLayout(this);
  root->setContentsMargins(6, 6, 6, 8);
  root->setSpacing(6);
  root->addWidget(headingPanel(QStringLiteral(u"ЗАМЕЩАЮЩИЕ ЗНАЧЕНИЯ"), this));
  analyzerLabel_ = new QLabel(this);
  analyzerLabel_->setObjectName(QStringLiteral("LabelAnalyzer"));
  root->addWidget(analyzerLabel_);

  auto* span = new QGridLayout;
  const auto timeEdit = [this](const char* name) {
    auto* e = new QDateTimeEdit(this);
    e->setObjectName(QLatin1String(name));
    e->setDisplayFormat(QStringLiteral("dd.MM.yyyy HH:mm"));
    e->setCalendarPopup(true);
    e->setTimeSpec(Qt::LocalTime);
    return e;
  };
  fromEdit_ = timeEdit("EditFrom");
  toEdit_ = timeEdit("EditTo");
  span->addWidget(new QLabel(QStringLiteral(u"С (местное время):"), this), 0, 0);
  span->addWidget(fromEdit_, 0, 1);
  span->addWidget(new QLabel(QStringLiteral(u"По:"), this), 1, 0);
  span->addWidget(toEdit_, 1, 1);
  root->addLayout(span);

  auto* values = new QGridLayout;
  for (size_t i = 0; i < emissions::kSubstituteChannels.size(); ++i) {
    const int ch = emissions::kSubstituteChannels[i];
    const QString name = QString::fromLatin1(channel::kNames[size_t(ch)]);
    valueLabels_[i] = new QLabel(this);
    valueEdits_[i] = new QLineEdit(this);
    valueEdits_[i]->setObjectName(QStringLiteral("EditSubstitute") + name);
    valueEdits_[i]->setFixedWidth(80);
    values->addWidget(valueLabels_[i], int(i), 0);
    values->addWidget(valueEdits_[i], int(i), 1);
  }
  root->addLayout(values);
  auto* note = new QLabel(
      QStringLiteral(u"Значения — в единицах прибора (O2 в %, газы в ppm), до пересчёта в мг/м³ и приведения к O2; "
                     u"* — нужны для расчёта выбросов. Они записываются со статусом «З» там, где результата нет "
                     u"или он не учитывается (неисправность, техобслуживание); записанные результаты не изменяются."),
      this);
  note->setWordWrap(true);
  root->addWidget(note);
  root->addWidget(new QLabel(QStringLiteral(u"Причина:"), this));
  reasonEdit_ = new QLineEdit(this);
  reasonEdit_->setObjectName(QStringLiteral("EditReason"));
  reasonEdit_->setMaxLength(500);
  root->addWidget(reasonEdit_);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("BitBtnOk"));
  buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("BitBtnCancel"));
  connect(buttons, &QDialogButtonBox::accepted, this, &SubstitutesDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &SubstitutesDialog::reject);
  root->addWidget(buttons);
}

void SubstitutesDialog::fill(const QString& analyzer, const emissions::ValidationConfig& validation) {
  validation_ = validation;
  analyzerLabel_->setText(QStringLiteral(u"Анализатор: ") + analyzer);
  QDateTime now = seams::currentDateTime().toLocalTime();
  now.setTime(QTime(now.time().hour(), now.time().minute()));
  fromEdit_->setDateTime(now.addSecs(-3600));
  toEdit_->setDateTime(now);
  const QVector<int> needed = emissions::requiredSubstituteChannels(validation);
  for (size_t i = 0; i < emissions::kSubstituteChannels.size(); ++i) {
    const int ch = emissions::kSubstituteChannels[i];
    valueLabels_[i]->setText(QStringLiteral("%1, %2%3")
                                 .arg(QString::fromLatin1(channel::kNames[size_t(ch)]), unitText(ch),
                                     needed.contains(ch) ? QStringLiteral(" *") : QString()));
    valueEdits_[i]->clear();
  }
  reasonEdit_->clear();
}

QWidget* SubstitutesDialog::check(emissions::SubstituteEntry* out, QString* message) const {
  emissions::SubstituteEntry e;
  e.fromUtcMs = fromEdit_->dateTime().toMSecsSinceEpoch();
  e.toUtcMs = toEdit_->dateTime().toMSecsSinceEpoch();
  e.reason = reasonEdit_->text().trimmed();
  for (size_t i = 0; i < emissions::kSubstituteChannels.size(); ++i) {
    const QString text = valueEdits_[i]->text().trimmed();
    if (text.isEmpty()) continue;
    const std::optional<double> v = readDecimal(text);
    if (!v) {
      *message = notAFloatText(text);
      return valueEdits_[i];
    }
    e.values[size_t(emissions::kSubstituteChannels[i])] = *v;
  }
  int channel = -1;
  const QString problem =
      emissions::substituteProblem(e, validation_, seams::currentDateTime().toMSecsSinceEpoch(), &channel);
  if (!problem.isEmpty()) {
    *message = problem;
    // The field the problem is about.
    for (size_t i = 0; i < emissions::kSubstituteChannels.size(); ++i)
      if (emissions::kSubstituteChannels[i] == channel) return valueEdits_[i];
    return e.toUtcMs > e.fromUtcMs && e.reason.isEmpty() ? static_cast<QWidget*>(reasonEdit_) : toEdit_;
  }
  *out = e;
  return nullptr;
}

bool SubstitutesDialog::takeOver(emissions::SubstituteEntry* entry, QString* message) const {
  QString why;
  emissions::SubstituteEntry e;
  if (check(&e, &why)) {
    if (message) *message = why;
    return false;
  }
  *entry = e;
  return true;
}

void SubstitutesDialog::accept() {
  emissions::SubstituteEntry scratch;
  QString message;
  if (QWidget* bad = check(&scratch, &message)) {
    seams::errorBox(this, message);
    bad->setFocus();
    if (auto* edit = qobject_cast<QLineEdit*>(bad)) edit->selectAll();
    return;
  }
  QDialog::accept();
}
