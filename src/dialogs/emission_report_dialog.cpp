#include "dialogs/emission_report_dialog.h"

#include <QComboBox>
#include <QDateTime>
#include <QTimeZone>
#include <QDateEdit>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTableView>
#include <QVBoxLayout>
#include <utility>

#include "dialogs/explanation_dialog.h"
#include "ui/glyphs.h"
#include "platform/seams.h"
#include "ui/widget_seams.h"

EmissionReportDialog::EmissionReportDialog(QWidget* parent) : QDialog(parent), range_(this) {
  setObjectName(QStringLiteral("FormEmissionReport"));
  setWindowTitle(QStringLiteral(u"Отчёт о выбросах"));
  setWindowIcon(glyphs::windowIcon(glyphs::Window::Main));
  resize(1020, 600);
  auto* root = new QVBoxLayout(this);

  root->addWidget(range_.daysLabel());

  auto* range = new QHBoxLayout;
  buildButton_ = new QPushButton(QStringLiteral(u"Сформировать"), this);
  buildButton_->setObjectName(QStringLiteral("ButtonBuild"));
  range->addWidget(new QLabel(QStringLiteral(u"с"), this));
  range->addWidget(range_.fromEdit());
  range->addWidget(new QLabel(QStringLiteral(u"по"), this));
  range->addWidget(range_.toEdit());
  range->addWidget(buildButton_);
  progress_ = new QProgressBar(this);
  progress_->setObjectName(QStringLiteral("ProgressReport"));
  progress_->setRange(0, 100);
  progress_->setFixedWidth(160);
  progress_->setVisible(false);
  range->addWidget(progress_);
  cancelButton_ = new QPushButton(QStringLiteral(u"Отмена"), this);
  cancelButton_->setObjectName(QStringLiteral("ButtonCancelReport"));
  cancelButton_->setVisible(false);
  range->addWidget(cancelButton_);
  range->addStretch(1);
  range->addWidget(new QLabel(QStringLiteral(u"Разделитель CSV"), this));
  separatorCombo_ = new QComboBox(this);
  separatorCombo_->setObjectName(QStringLiteral("ComboBoxSeparator"));
  separatorCombo_->addItem(QStringLiteral(u"; (точка с запятой)"), QChar(QLatin1Char(';')));
  separatorCombo_->addItem(QStringLiteral(u", (запятая)"), QChar(QLatin1Char(',')));
  separatorCombo_->addItem(QStringLiteral(u"табуляция"), QChar(QLatin1Char('\t')));
  range->addWidget(separatorCombo_);
  root->addLayout(range);

  model_ = new QStandardItemModel(this);
  view_ = new QTableView(this);
  view_->setObjectName(QStringLiteral("ReportView"));
  view_->setModel(model_);
  view_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  view_->verticalHeader()->setVisible(false);
  view_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  view_->verticalHeader()->setDefaultSectionSize(20);
  view_->setToolTip(QStringLiteral(u"Двойной щелчок по строке: как получено значение"));
  connect(view_, &QTableView::doubleClicked, this,
          [this](const QModelIndex& index) { explainRow(index.row(), index.column()); });
  root->addWidget(view_, 1);

  exceedances_ = new QPlainTextEdit(this);
  exceedances_->setObjectName(QStringLiteral("TextExceedances"));
  exceedances_->setReadOnly(true);
  exceedances_->setMaximumHeight(90);
  root->addWidget(exceedances_);

  auto* buttons = new QDialogButtonBox(this);
  QPushButton* print = buttons->addButton(QStringLiteral(u"Печать"), QDialogButtonBox::ActionRole);
  QPushButton* pdf = buttons->addButton(QStringLiteral(u"Сохранить PDF..."), QDialogButtonBox::ActionRole);
  QPushButton* csv = buttons->addButton(QStringLiteral(u"Экспорт CSV..."), QDialogButtonBox::ActionRole);
  QPushButton* close = buttons->addButton(QStringLiteral(u"Закрыть"), QDialogButtonBox::RejectRole);
  print->setObjectName(QStringLiteral("ButtonPrint"));
  pdf->setObjectName(QStringLiteral("ButtonPdf"));
  csv->setObjectName(QStringLiteral("ButtonCsv"));
  close->setObjectName(QStringLiteral("ButtonClose"));
  buildButton_->setDefault(true);
  connect(buildButton_, &QPushButton::clicked, this, [this] { build(); });
  connect(cancelButton_, &QPushButton::clicked, this, [this] {
    pending_.clear();
    setBuilding(false);
    emit cancelRequested();
  });
  connect(print, &QPushButton::clicked, this, [this] { request(&EmissionReportDialog::printRequested); });
  connect(pdf, &QPushButton::clicked, this, [this] { request(&EmissionReportDialog::pdfRequested); });
  connect(csv, &QPushButton::clicked, this, [this] { request(&EmissionReportDialog::csvRequested); });
  connect(buttons, &QDialogButtonBox::rejected, this, &EmissionReportDialog::reject);
  root->addWidget(buttons);
}

void EmissionReportDialog::setSource(Source source, int intervalMinutes) {
  source_ = std::move(source);
  intervalMinutes_ = intervalMinutes;
  built_ = false;
}

void EmissionReportDialog::setDays(const QVector<QDate>& days) {
  setResult(QDialog::Rejected);
  range_.setDays(days);
  built_ = false;
  pending_.clear();
  setBuilding(false);
  model_->clear();
  exceedances_->clear();
  // The locale's separator first: the one its spreadsheets expect.
  const QChar sep = emissions::CsvFormat::forLocale(seams::locale()).separator;
  separatorCombo_->setCurrentIndex(std::max(0, separatorCombo_->findData(sep)));
}

QDate EmissionReportDialog::from() const { return range_.from(); }
QDate EmissionReportDialog::to() const { return range_.to(); }

bool EmissionReportDialog::build() {
  if (!range_.checkOrder(this)) return false;
  buildingFrom_ = from();
  buildingTo_ = to();
  built_ = false;
  setBuilding(true);
  progress_->setValue(0);
  if (source_)
    source_(buildingFrom_, buildingTo_);
  else
    showReport(emissions::EmissionReport());
  return true;
}

void EmissionReportDialog::setBuilding(bool building) {
  building_ = building;
  progress_->setVisible(building);
  cancelButton_->setVisible(building);
  buildButton_->setEnabled(!building);
}

void EmissionReportDialog::showProgress(int percent) {
  if (building_) progress_->setValue(percent);
}

void EmissionReportDialog::showFailure(const QString& why) {
  if (!building_) return;
  setBuilding(false);
  pending_.clear();
  model_->clear();
  exceedances_->setPlainText(why);
}

void EmissionReportDialog::showReport(const emissions::EmissionReport& report) {
  if (!building_) return;  // cancelled meanwhile
  setBuilding(false);
  report_ = report;
  table_ = emissions::reportTable(report_, buildingFrom_, buildingTo_, intervalMinutes_, seams::locale());
  // The table's own columns: those of a validated report differ.
  const QVector<int>& judged = table_.judgedComponent;
  built_ = true;
  builtFrom_ = buildingFrom_;
  builtTo_ = buildingTo_;

  model_->clear();
  model_->setHorizontalHeaderLabels(table_.headers);
  for (const emissions::ReportTableRow& row : table_.rows) {
    QList<QStandardItem*> items;
    for (int c = 0; c < row.cells.size(); ++c) {
      auto* item = new QStandardItem(row.cells[c]);
      if (c > emissions::report_table_column::Period) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
      if (row.day) {
        QFont f = item->font();
        f.setBold(true);
        item->setFont(f);
      }
      if (judged.value(c, -1) >= 0) {
        const int k = judged[c];
        const emissions::Exceedance e = row.exceedances[size_t(k)];
        if (!row.valid[size_t(k)])
          item->setForeground(QColor(0x70, 0x70, 0x70));
        else if (e == emissions::Exceedance::Alarm)
          item->setForeground(QColor(0xC0, 0, 0));
        else if (e == emissions::Exceedance::PreAlarm)
          item->setForeground(QColor(0xA0, 0x60, 0));
      }
      items << item;
    }
    model_->appendRow(items);
  }
  view_->resizeColumnsToContents();
  exceedances_->setPlainText(table_.title + QLatin1Char('\n') + table_.exceedances.join(QLatin1Char('\n')));
  if (upToDate())
    for (auto signal : std::exchange(pending_, {})) emit(this->*signal)();
}

emissions::CsvFormat EmissionReportDialog::csvFormat() const {
  return emissions::CsvFormat::withSeparator(separatorCombo_->currentData().value<QChar>(), seams::locale());
}

QString EmissionReportDialog::baseName() const {
  return QStringLiteral("emissions-%1-%2")
      .arg(from().toString(QStringLiteral("yyyy-MM-dd")), to().toString(QStringLiteral("yyyy-MM-dd")));
}

bool EmissionReportDialog::explainRow(int row, int column) {
  if (!explain_ || !upToDate() || row < 0 || row >= report_.rows().size()) return false;
  const emissions::ReportRow& r = report_.rows()[row];
  if (r.kind == emissions::ReportRow::Kind::Month) return false;
  const QVector<emissions::AverageExplanation> explained = explain_(r);
  if (explained.size() != emissions::kComponentCount) return false;
  const int k = table_.judgedComponent.value(column, -1);
  const QDateTime start = QDateTime::fromMSecsSinceEpoch(r.startUtcMs, QTimeZone(r.startOffset));
  const QString name = r.kind == emissions::ReportRow::Kind::Day
                           ? QStringLiteral("explanation-%1").arg(r.date.toString(QStringLiteral("yyyy-MM-dd")))
                           : QStringLiteral("explanation-%1").arg(start.toString(QStringLiteral("yyyy-MM-dd-HHmm")));
  if (!explanation_) explanation_ = new ExplanationDialog(this);
  explanation_->setExplanation(explained, emissions::kComponents[size_t(std::max(k, 0))], csvFormat(), name);
  seams::execModal(explanation_);
  return true;
}

void EmissionReportDialog::request(void (EmissionReportDialog::*signal)()) {
  if (upToDate()) {
    emit(this->*signal)();
    return;
  }
  // The command waits for the report of the range shown.
  if (!(building_ && buildingFrom_ == from() && buildingTo_ == to()) && !build()) return;
  if (upToDate())
    emit(this->*signal)();
  else
    pending_.append(signal);
}
