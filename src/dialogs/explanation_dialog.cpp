#include "dialogs/explanation_dialog.h"

#include <QComboBox>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QDir>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTableView>
#include <QTimeZone>
#include <QVBoxLayout>

#include "emissions/emission_texts.h"
#include "emissions/result_status.h"
#include "ui/glyphs.h"
#include "platform/seams.h"
#include "ui/widget_seams.h"

namespace {

using emissions::AverageExplanation;

const QString kDash = QStringLiteral(u"—");

QString value(const std::optional<double>& v, const QLocale& locale, int decimals = 2) {
  if (!v) return kDash;
  QLocale l = locale;
  l.setNumberOptions(QLocale::OmitGroupSeparator);
  return l.toString(*v, 'f', decimals);
}

QStandardItem* cell(const QString& text, bool number, const QColor& color = QColor()) {
  auto* item = new QStandardItem(text);
  if (number) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
  if (color.isValid()) item->setForeground(color);
  return item;
}

const QColor kLeftOut(0x90, 0x90, 0x90);
const QColor kFlagged(0xA0, 0x60, 0);

}  // namespace

ExplanationDialog::ExplanationDialog(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("FormExplanation"));
  setWindowTitle(QStringLiteral(u"Как получено значение"));
  setWindowIcon(glyphs::windowIcon(glyphs::Window::Main));
  resize(980, 620);
  auto* root = new QVBoxLayout(this);

  auto* head = new QHBoxLayout;
  title_ = new QLabel(this);
  title_->setObjectName(QStringLiteral("LabelWhat"));
  QFont bold = title_->font();
  bold.setBold(true);
  title_->setFont(bold);
  head->addWidget(title_, 1);
  head->addWidget(new QLabel(QStringLiteral(u"Компонент"), this));
  componentCombo_ = new QComboBox(this);
  componentCombo_->setObjectName(QStringLiteral("ComboBoxComponent"));
  for (emissions::Component c : emissions::kComponents) componentCombo_->addItem(emissions::componentTitle(c));
  head->addWidget(componentCombo_);
  root->addLayout(head);

  model_ = new QStandardItemModel(this);
  view_ = new QTableView(this);
  view_->setObjectName(QStringLiteral("ExplanationView"));
  view_->setModel(model_);
  view_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  view_->verticalHeader()->setVisible(false);
  view_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  view_->verticalHeader()->setDefaultSectionSize(20);
  root->addWidget(view_, 1);

  rule_ = new QPlainTextEdit(this);
  rule_->setObjectName(QStringLiteral("TextRule"));
  rule_->setReadOnly(true);
  rule_->setMaximumHeight(150);
  root->addWidget(rule_);

  auto* buttons = new QDialogButtonBox(this);
  QPushButton* csv = buttons->addButton(QStringLiteral(u"Экспорт CSV..."), QDialogButtonBox::ActionRole);
  QPushButton* close = buttons->addButton(QStringLiteral(u"Закрыть"), QDialogButtonBox::RejectRole);
  csv->setObjectName(QStringLiteral("ButtonCsv"));
  close->setObjectName(QStringLiteral("ButtonClose"));
  connect(csv, &QPushButton::clicked, this, [this] { exportCsv(); });
  connect(buttons, &QDialogButtonBox::rejected, this, &ExplanationDialog::reject);
  connect(componentCombo_, &QComboBox::currentIndexChanged, this, [this](int i) { showComponent(i); });
  root->addWidget(buttons);
}

void ExplanationDialog::setExplanation(const QVector<AverageExplanation>& perComponent, emissions::Component component,
                                       const emissions::CsvFormat& format, const QString& baseName) {
  explanations_ = perComponent;
  format_ = format;
  baseName_ = baseName;
  const int i = emissions::index(component);
  if (componentCombo_->currentIndex() == i)
    showComponent(i);
  else
    componentCombo_->setCurrentIndex(i);  // shows it
}

emissions::Component ExplanationDialog::component() const {
  return emissions::kComponents[size_t(std::max(0, componentCombo_->currentIndex()))];
}

int ExplanationDialog::rowCount() const { return model_->rowCount(); }

void ExplanationDialog::showComponent(int componentIndex) {
  model_->clear();
  rule_->clear();
  if (componentIndex < 0 || componentIndex >= explanations_.size()) {
    title_->clear();
    return;
  }
  const AverageExplanation& e = explanations_[componentIndex];
  const QLocale locale = seams::locale();
  title_->setText(emissions::explanationTitle(e));
  if (e.kind == AverageExplanation::Kind::Interval) {
    model_->setHorizontalHeaderLabels({QStringLiteral(u"Время"), QStringLiteral(u"Статус"), QStringLiteral(u"O2, %"),
                                       QStringLiteral(u"Показание, ppm"), QStringLiteral(u"Калибр., ppm"),
                                       QStringLiteral(u"Сухой газ, ppm"), QStringLiteral(u"мг/м³"),
                                       QStringLiteral(u"При O2 обр., мг/м³"), QStringLiteral(u"Учтено")});
    for (const emissions::ExplainedResult& r : e.results) {
      const emissions::ComponentValue& v = r.value;
      const QColor color = !v.counted ? kLeftOut : v.status == ResultStatus::Valid ? QColor() : kFlagged;
      auto* status = cell(emissions::statusCode(v.status), false, color);
      status->setToolTip(emissions::statusTitle(v.status));
      model_->appendRow(
          {cell(QDateTime::fromMSecsSinceEpoch(r.utcMs, QTimeZone(r.utcOffset)).toString(QStringLiteral("hh:mm:ss")),
                false, color),
           status, cell(value(v.o2, locale), true, color), cell(value(v.raw, locale), true, color),
           cell(value(v.calibrated, locale), true, color), cell(value(v.dry, locale), true, color),
           cell(value(v.mg, locale), true, color), cell(value(v.atReference, locale), true, color),
           cell(v.counted ? QStringLiteral(u"да")
                          : QStringLiteral(u"нет: ") +
                                emissions::invalidReasonTitle(v.notCounted.value_or(emissions::InvalidReason::NoValue)),
                false, color)});
    }
  } else {
    model_->setHorizontalHeaderLabels({QStringLiteral(u"Интервал"), QStringLiteral(u"Результатов"),
                                       QStringLiteral(u"Учтено"), QStringLiteral(u"Изм., мг/м³"),
                                       QStringLiteral(u"ДИ, мг/м³"), QStringLiteral(u"Вал., мг/м³"),
                                       QStringLiteral(u"Оценка"), QStringLiteral(u"Не учтено")});
    for (const emissions::IntervalAverage& iv : e.intervals) {
      const emissions::ComponentAverage& a = iv[e.component];
      const QColor color = a.valid ? QColor() : kLeftOut;
      QStringList leftOut;
      for (emissions::InvalidReason r : emissions::kInvalidReasons)
        if (a.invalid[size_t(r)] > 0)
          leftOut << QStringLiteral("%1 %2").arg(emissions::invalidReasonTitle(r)).arg(a.invalid[size_t(r)]);
      const bool has = a.count > 0;
      model_->appendRow({cell(emissions::spanText(iv.startUtcMs, iv.startOffset, iv.endUtcMs, iv.endOffset), false, color),
                         cell(QString::number(iv.resultCount), true, color),
                         cell(QStringLiteral("%1/%2").arg(a.count).arg(a.expected), true, color),
                         cell(has ? value(a.measured, locale) : kDash, true, color),
                         cell(value(a.ci, locale), true, color), cell(has ? value(a.mean, locale) : kDash, true, color),
                         cell(a.valid ? QStringLiteral(u"достоверно")
                                      : a.reason == emissions::ValidityReason::NotOperating
                                            ? QStringLiteral(u"не работала")
                                            : QStringLiteral(u"недостоверно"),
                              false, color),
                         cell(leftOut.join(QStringLiteral(", ")), false, color)});
    }
  }
  view_->resizeColumnsToContents();
  rule_->setPlainText(emissions::explanationLines(e, locale).join(QLatin1Char('\n')));
}

bool ExplanationDialog::exportCsv() {
  if (explanations_.isEmpty()) return false;
  const QString proposed =
      QFileInfo(seams::executablePath()).absoluteDir().filePath(baseName_ + QStringLiteral(".csv"));
  const QString name = seams::getSaveFileName(this, QStringLiteral(u"Файлы CSV(*.csv)|*.csv"), proposed);
  if (name.isEmpty()) return false;
  QString error;
  if (emissions::writeExplanationCsv(name, explanations_, format_, &error)) return true;
  seams::errorBox(this, QStringLiteral(u"Объяснение не сохранено:\r\n%1\r\n%2").arg(name, error));
  return false;
}
