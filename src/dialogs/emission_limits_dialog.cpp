#include "dialogs/emission_limits_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <cmath>

#include "dialogs/dialog_controls.h"
#include "dialogs/number_text.h"
#include "ui/glyphs.h"
#include "platform/seams.h"
#include "ui/widget_seams.h"

namespace {

const int kIntervals[] = {10, 15, 30, 60};

// Either decimal sign: a limit is copied from a permit, written one way or
// the other.
std::optional<double> readDecimal(const QString& text) {
  QString t = text.trimmed();
  const QChar sign = decimalSeparator();
  t.replace(QLatin1Char('.'), sign).replace(QLatin1Char(','), sign);
  return readFloat(t);
}

// A limit as the report prints it: "100 000".
QString limitText(double v) {
  QLocale l = seams::locale();
  return l.toString(v, 'f', QLocale::FloatingPointShortest);
}

QString limitName(emissions::Component c, bool daily) {
  return (daily ? QStringLiteral(u"Суточный норматив ") : QStringLiteral(u"Норматив за интервал ")) +
         QString::fromLatin1(emissions::componentName(c));
}

}  // namespace

EmissionLimitsDialog::EmissionLimitsDialog(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("FormEmissionLimits"));
  setWindowTitle(QStringLiteral(u"Нормативы выбросов"));
  setWindowIcon(glyphs::windowIcon(glyphs::Window::Main));
  auto* root = new QVBoxLayout(this);
  root->setContentsMargins(6, 6, 6, 8);
  root->setSpacing(6);
  root->addWidget(headingPanel(QStringLiteral(u"НОРМАТИВЫ ВЫБРОСОВ"), this));

  auto* top = new QGridLayout;
  top->setHorizontalSpacing(8);
  intervalCombo_ = new QComboBox(this);
  intervalCombo_->setObjectName(QStringLiteral("ComboBoxInterval"));
  for (int m : kIntervals) intervalCombo_->addItem(QString::number(m), m);
  preAlarmEdit_ = new QLineEdit(this);
  preAlarmEdit_->setObjectName(QStringLiteral("EditPreAlarm"));
  preAlarmEdit_->setFixedWidth(57);
  intervalCombo_->setFixedWidth(57);
  auto* intervalLabel = new QLabel(QStringLiteral(u"Интервал усреднения, мин"), this);
  auto* preAlarmLabel = new QLabel(QStringLiteral(u"Предупреждение, % норматива (0 — нет)"), this);
  intervalLabel->setBuddy(intervalCombo_);
  preAlarmLabel->setBuddy(preAlarmEdit_);
  top->addWidget(intervalLabel, 0, 0);
  top->addWidget(intervalCombo_, 0, 1);
  top->addWidget(preAlarmLabel, 1, 0);
  top->addWidget(preAlarmEdit_, 1, 1);
  top->setColumnStretch(0, 1);
  root->addLayout(top);

  auto* grid = new QGridLayout;
  grid->setHorizontalSpacing(8);
  grid->setVerticalSpacing(4);
  grid->addWidget(new QLabel(QStringLiteral(u"мг/м³ при O2 образцовом"), this), 0, 0);
  grid->addWidget(new QLabel(QStringLiteral(u"за интервал"), this), 0, 1);
  grid->addWidget(new QLabel(QStringLiteral(u"суточный"), this), 0, 2);
  for (emissions::Component c : emissions::kComponents) {
    const int i = emissions::index(c);
    const QString name = QString::fromLatin1(emissions::componentName(c));
    auto* label = new QLabel(c == emissions::Component::NOx ? QStringLiteral(u"NOx (в пересчёте на NO2)") : name, this);
    grid->addWidget(label, i + 1, 0);
    for (bool daily : {false, true}) {
      auto* edit = new QLineEdit(this);
      edit->setObjectName((daily ? QStringLiteral("EditDaily") : QStringLiteral("EditInterval")) + name);
      edit->setFixedWidth(70);
      edit->setToolTip(limitName(c, daily) + QStringLiteral(u", мг/м³; пусто — не задан"));
      grid->addWidget(edit, i + 1, daily ? 2 : 1);
      (daily ? dailyEdits_ : intervalEdits_)[size_t(i)] = edit;
    }
    label->setBuddy(intervalEdits_[size_t(i)]);
  }
  grid->setColumnStretch(0, 1);
  root->addLayout(grid);

  auto* note = new QLabel(QStringLiteral(u"Пустое поле — норматив не задан."), this);
  note->setObjectName(QStringLiteral("LabelNote"));
  root->addWidget(note);

  auto* buttons = new QDialogButtonBox(this);
  QPushButton* ok = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
  QPushButton* cancel = buttons->addButton(QStringLiteral(u"Отмена"), QDialogButtonBox::RejectRole);
  ok->setObjectName(QStringLiteral("ButtonOk"));
  cancel->setObjectName(QStringLiteral("ButtonCancel"));
  ok->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &EmissionLimitsDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &EmissionLimitsDialog::reject);
  root->addWidget(buttons);
}

void EmissionLimitsDialog::fill(const emissions::EmissionSettings& settings) {
  setResult(QDialog::Rejected);
  const int at = intervalCombo_->findData(settings.intervalMinutes);
  intervalCombo_->setCurrentIndex(at >= 0 ? at : intervalCombo_->findData(emissions::kDefaultIntervalMinutes));
  preAlarmEdit_->setText(numberText(settings.limits.preAlarmPercent));
  for (emissions::Component c : emissions::kComponents) {
    const emissions::ComponentLimits& l = settings.limits[c];
    intervalEdits_[size_t(emissions::index(c))]->setText(l.interval ? numberText(*l.interval) : QString());
    dailyEdits_[size_t(emissions::index(c))]->setText(l.daily ? numberText(*l.daily) : QString());
  }
}

QLineEdit* EmissionLimitsDialog::check(emissions::EmissionSettings& out, QString* message) const {
  out.intervalMinutes = intervalCombo_->currentData().toInt();
  const auto pre = readDecimal(preAlarmEdit_->text());
  if (!pre || !(*pre >= 0 && *pre <= 100)) {
    *message = QStringLiteral(u"Порог предупреждения должен быть числом от 0 до 100 %!");
    return preAlarmEdit_;
  }
  out.limits.preAlarmPercent = *pre;
  for (emissions::Component c : emissions::kComponents) {
    for (bool daily : {false, true}) {
      QLineEdit* edit = (daily ? dailyEdits_ : intervalEdits_)[size_t(emissions::index(c))];
      std::optional<double>& limit = daily ? out.limits[c].daily : out.limits[c].interval;
      const QString text = edit->text().trimmed();
      if (text.isEmpty()) {
        limit.reset();
        continue;
      }
      const auto v = readDecimal(text);
      if (!v || !std::isfinite(*v)) {
        *message = QStringLiteral(u"%1: «%2» — не число!").arg(limitName(c, daily), text);
        return edit;
      }
      if (!(*v > 0)) {
        *message = QStringLiteral(u"%1 должен быть больше нуля!").arg(limitName(c, daily));
        return edit;
      }
      if (!emissions::isSensibleLimit(*v)) {
        *message = QStringLiteral(u"%1: %2 мг/м³ — вне пределов от %3 до %4 мг/м³!")
                       .arg(limitName(c, daily), text, limitText(emissions::kMinLimit),
                            limitText(emissions::kMaxLimit));
        return edit;
      }
      limit = *v;
    }
  }
  return nullptr;
}

bool EmissionLimitsDialog::takeOver(emissions::EmissionSettings& settings, QString* message) const {
  emissions::EmissionSettings out = settings;
  QString why;
  if (check(out, &why)) {
    if (message) *message = why;
    return false;
  }
  settings = out;
  return true;
}

void EmissionLimitsDialog::accept() {
  emissions::EmissionSettings scratch;
  QString message;
  if (QLineEdit* bad = check(scratch, &message)) {
    seams::errorBox(this, message);
    bad->setFocus();
    bad->selectAll();
    return;
  }
  QDialog::accept();
}
