#include "app/emissions_panel.h"

#include <QDateTime>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimeZone>
#include <QVBoxLayout>
#include <algorithm>

#include "emissions/emission_texts.h"
#include "platform/seams.h"

namespace {

const char* const kRowNames[] = {"Current", "Running", "Last", "Day"};

QString timeOf(qint64 utcMs, int offset, const QString& format) {
  return QDateTime::fromMSecsSinceEpoch(utcMs, QTimeZone(offset)).toString(format);
}

void setBackground(QLabel* label, const QColor& color) {
  QPalette p = label->palette();
  p.setColor(QPalette::Window, color);
  label->setPalette(p);
}

}  // namespace

EmissionsPanel::EmissionsPanel(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("PanelEmissions"));
  setFixedWidth(kWidth);
  auto* root = new QVBoxLayout(this);
  root->setContentsMargins(2, 1, 2, 2);
  root->setSpacing(2);

  auto* heading = new QLabel(QStringLiteral(u"ВЫБРОСЫ, мг/м³"), this);
  heading->setObjectName(QStringLiteral("PanelEmissionsHeading"));
  heading->setFixedHeight(22);
  heading->setAlignment(Qt::AlignCenter);
  heading->setFrameShape(QFrame::Panel);
  heading->setFrameShadow(QFrame::Raised);
  QFont bold = heading->font();
  bold.setBold(true);
  heading->setFont(bold);
  root->addWidget(heading);

  basisLabel_ = new QLabel(this);
  basisLabel_->setObjectName(QStringLiteral("LabelEmissionBasis"));
  basisLabel_->setAlignment(Qt::AlignCenter);
  basisLabel_->setToolTip(QStringLiteral(u"Сухой газ, 0 °C, 101,325 кПа; NOx в пересчёте на NO2"));
  root->addWidget(basisLabel_);

  auto* grid = new QGridLayout;
  grid->setContentsMargins(2, 0, 2, 0);
  grid->setHorizontalSpacing(4);
  grid->setVerticalSpacing(1);
  for (emissions::Component c : emissions::kComponents) {
    auto* name = new QLabel(emissions::componentTitle(c), this);
    name->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    name->setFont(bold);
    grid->addWidget(name, 0, emissions::index(c));
  }
  int gridRow = 1;
  for (int r = 0; r < kRowCount; ++r) {
    auto* caption = new QLabel(this);
    caption->setObjectName(QStringLiteral("LabelEmission") + QLatin1String(kRowNames[r]));
    if (r > 0) caption->setContentsMargins(0, 4, 0, 0);
    captions_[size_t(r)] = caption;
    grid->addWidget(caption, gridRow++, 0, 1, emissions::kComponentCount);
    for (emissions::Component c : emissions::kComponents) {
      auto* v = new QLabel(QStringLiteral(u"—"), this);
      v->setObjectName(QStringLiteral("Emission") + QLatin1String(kRowNames[r]) + emissions::componentTitle(c));
      v->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
      v->setAutoFillBackground(true);
      v->setMinimumWidth(48);
      values_[size_t(r)][size_t(emissions::index(c))] = v;
      grid->addWidget(v, gridRow, emissions::index(c));
    }
    ++gridRow;
  }
  root->addLayout(grid);

  auto* legend = new QLabel(QStringLiteral(u"(…) — недостоверно"), this);
  legend->setObjectName(QStringLiteral("LabelEmissionLegend"));
  legend->setAlignment(Qt::AlignRight);
  QPalette grey = legend->palette();
  grey.setColor(QPalette::WindowText, QColor(0x70, 0x70, 0x70));
  legend->setPalette(grey);
  root->addWidget(legend);

  lamp_ = new QLabel(this);
  lamp_->setObjectName(QStringLiteral("EmissionAlarmLamp"));
  lamp_->setAlignment(Qt::AlignCenter);
  lamp_->setFrameShape(QFrame::Panel);
  lamp_->setFrameShadow(QFrame::Sunken);
  lamp_->setAutoFillBackground(true);
  lamp_->setFixedHeight(30);
  lamp_->setFont(bold);
  root->addWidget(lamp_);

  acknowledgeButton_ = new QPushButton(QStringLiteral(u"Квитировать"), this);
  acknowledgeButton_->setObjectName(QStringLiteral("EmissionAcknowledge"));
  acknowledgeButton_->setToolTip(QStringLiteral(u"Снять сигнализацию превышения (записывается в журнал событий)"));
  root->addWidget(acknowledgeButton_);
  root->addStretch(1);
  connect(acknowledgeButton_, &QPushButton::clicked, this, &EmissionsPanel::acknowledgeRequested);
  show(emissions::MonitorState());
}

void EmissionsPanel::showValue(Row row, emissions::Component c, const std::optional<double>& value, bool valid,
                               emissions::Exceedance exceedance) {
  QLabel* label = values_[size_t(row)][size_t(emissions::index(c))];
  const QLocale locale = seams::locale();
  QString text = value ? emissions::meanText(*value, locale) : QStringLiteral(u"—");
  if (value && !valid) text = QLatin1Char('(') + text + QLatin1Char(')');
  label->setText(text);
  // A palette set anew restyles the label: only when its look changes (at every result otherwise).
  const bool grey = value && !valid;
  const QVariant look = int(exceedance) * 2 + (grey ? 1 : 0);
  const bool same = label->property("look") == look;
  label->setProperty("valid", valid);
  label->setProperty("exceedance", int(exceedance));
  if (same) return;
  label->setProperty("look", look);
  QPalette p = label->palette();
  p.setColor(QPalette::WindowText, grey ? QColor(0x70, 0x70, 0x70) : palette().color(QPalette::WindowText));
  switch (exceedance) {
    case emissions::Exceedance::None: p.setColor(QPalette::Window, palette().color(QPalette::Window)); break;
    case emissions::Exceedance::PreAlarm: p.setColor(QPalette::Window, QColor(0xFF, 0xE0, 0x60)); break;
    case emissions::Exceedance::Alarm: p.setColor(QPalette::Window, QColor(0xFF, 0x70, 0x70)); break;
  }
  label->setPalette(p);
}

void EmissionsPanel::showAverages(Row row, const emissions::ComponentAverages& averages,
                                  emissions::AveragePeriod period, const emissions::AlarmLimits& limits) {
  for (emissions::Component c : emissions::kComponents) {
    const emissions::ComponentAverage& a = averages[size_t(emissions::index(c))];
    showValue(row, c, a.count > 0 ? std::optional<double>(a.mean) : std::nullopt, a.valid,
              limits.classify(c, period, a));
  }
}

void EmissionsPanel::show(const emissions::MonitorState& s) {
  const QLocale locale = seams::locale();
  basisLabel_->setText(s.o2Ref ? QStringLiteral(u"при O2 = %1 %, интервал %2 мин")
                                     .arg(locale.toString(*s.o2Ref, 'g', 4))
                                     .arg(s.intervalMinutes)
                               : QStringLiteral(u"при O2 образцовом, интервал %1 мин").arg(s.intervalMinutes));

  // The newest result: one value, neither valid nor invalid as an average is.
  captions_[Current]->setText(s.lastResult ? QStringLiteral(u"Текущие, %1")
                                                 .arg(timeOf(s.lastResult->utcMs, s.lastResult->utcOffset,
                                                             QStringLiteral("hh:mm:ss")))
                                           : QStringLiteral(u"Текущие"));
  for (emissions::Component c : emissions::kComponents) {
    const auto& v = s.current[size_t(emissions::index(c))];
    showValue(Current, c, v, v.has_value(), emissions::Exceedance::None);
  }

  const emissions::ComponentAverages none{};
  if (s.running) {
    captions_[Running]->setText(QStringLiteral(u"Интервал %1, идёт (%2 рез.)")
                                    .arg(emissions::spanText(s.running->startUtcMs, s.running->startOffset,
                                                             s.running->endUtcMs, s.running->endOffset))
                                    .arg(s.running->resultCount));
    // Not judged against the limits until complete: shown only as it stands.
    showAverages(Running, s.running->components, emissions::AveragePeriod::Interval, emissions::AlarmLimits{});
  } else {
    captions_[Running]->setText(QStringLiteral(u"Текущий интервал"));
    showAverages(Running, none, emissions::AveragePeriod::Interval, s.limits);
  }
  if (s.lastInterval) {
    captions_[Last]->setText(QStringLiteral(u"Прошлый %1 (%2 рез.)")
                                 .arg(emissions::spanText(s.lastInterval->startUtcMs, s.lastInterval->startOffset,
                                                          s.lastInterval->endUtcMs, s.lastInterval->endOffset))
                                 .arg(s.lastInterval->resultCount));
    showAverages(Last, s.lastInterval->components, emissions::AveragePeriod::Interval, s.limits);
  } else {
    captions_[Last]->setText(QStringLiteral(u"Прошлый интервал"));
    showAverages(Last, none, emissions::AveragePeriod::Interval, s.limits);
  }
  if (s.today) {
    int valid = int(s.today->intervals.size());
    for (int invalid : s.today->invalidIntervals) valid = std::min(valid, int(s.today->intervals.size()) - invalid);
    captions_[Day]->setText(QStringLiteral(u"Сутки %1: достов. %2 из %3 инт.")
                                .arg(s.today->date.toString(QStringLiteral("dd.MM")))
                                .arg(valid)
                                .arg(s.today->intervals.size()));
    // A day is judged against its limit when it is over.
    showAverages(Day, s.today->components, emissions::AveragePeriod::Day, emissions::AlarmLimits{});
  } else {
    captions_[Day]->setText(QStringLiteral(u"Сутки"));
    showAverages(Day, none, emissions::AveragePeriod::Day, s.limits);
  }

  switch (s.lamp) {
    case emissions::Lamp::Off:
      lamp_->setText(QStringLiteral(u"Превышений нет"));
      setBackground(lamp_, palette().color(QPalette::Button));
      break;
    case emissions::Lamp::PreAlarm:
      lamp_->setText(QStringLiteral(u"ПРЕДУПРЕЖДЕНИЕ"));
      setBackground(lamp_, QColor(0xFF, 0xD0, 0x30));
      break;
    case emissions::Lamp::Alarm:
      lamp_->setText(QStringLiteral(u"ПРЕВЫШЕНИЕ"));
      setBackground(lamp_, QColor(Qt::red));
      break;
  }
  lamp_->setProperty("lamp", int(s.lamp));
  lamp_->setToolTip(s.latched.isEmpty() ? QStringLiteral(u"Сигнализация превышения нормативов выбросов")
                                        : s.latched.join(QLatin1Char('\n')));
  acknowledgeButton_->setEnabled(s.lamp != emissions::Lamp::Off);
}
