#include "dialogs/Korvex_ModbusRTU_SetParam.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/glyphs.h"
#include "app/platform_seams.h"
#include "dialogs/dialog_controls.h"
#include "dialogs/number_text.h"

namespace {

const double kFactors[] = {0.1, 1, 10, 100, 1000};

}  // namespace

TFormSetView::TFormSetView(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral(u"Параметры просмотра"));
  setWindowIcon(glyphs::WindowIcon(glyphs::Window::View));
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                 Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  setFixedSize(481, 284);

  struct Row {
    const char16_t* name;
    QCheckBox** check;
    QComboBox** factor;
    TColorBox** color;
  };
  const Row rows[kChannelCount] = {
      {u"Tg", &CheckBoxTG, &ComboBoxTg, &ColorBoxChartTg},
      {u"O2", &CheckBoxO2, &ComboBoxO2, &ColorBoxChartO2},
      {u"CO", &CheckBoxCO, &ComboBoxCO, &ColorBoxChartCO},
      {u"NO", &CheckBoxNO, &ComboBoxNO, &ColorBoxChartNO},
      {u"NO2", &CheckBoxNO2, &ComboBoxNO2, &ColorBoxChartNO2},
      {u"SO2", &CheckBoxSO2, &ComboBoxSO2, &ColorBoxChartSO2},
      {u"H2S", &CheckBoxH2S, &ComboBoxH2S, &ColorBoxChartH2S},
      {u"CO2", &CheckBoxCO2, &ComboBoxCO2, &ColorBoxChartCO2},
      {u"NOx", &CheckBoxNOx, &ComboBoxNOx, &ColorBoxChartNOx},
      {u"Qa", &CheckBoxQA, &ComboBoxQa, &ColorBoxChartQa},
      {u"Alf", &CheckBoxAlf, &ComboBoxAlf, &ColorBoxChartAlf},
      {u"Ta", &CheckBoxTa, &ComboBoxTa, &ColorBoxChartTa},
  };

  auto* root = new QVBoxLayout(this);
  root->setContentsMargins(6, 4, 6, 6);
  root->setSpacing(4);
  auto* frames = new QHBoxLayout;
  frames->setSpacing(7);
  root->addLayout(frames);

  // Two frames of six channels, each under its column headings.
  for (int half = 0; half < 2; ++half) {
    auto* column = new QVBoxLayout;
    column->setSpacing(1);
    frames->addLayout(column);
    auto* headings = new QHBoxLayout;
    headings->setContentsMargins(6, 0, 5, 0);
    headings->setSpacing(4);
    const QString headingTexts[3] = {QStringLiteral(u"показать"), QStringLiteral(u"множитель"),
                                     QStringLiteral(u"цвет")};
    const int widths[3] = {52, 58, 92};
    for (int h = 0; h < 3; ++h) {
      auto* heading = new QLabel(headingTexts[h], this);
      heading->setFixedWidth(widths[h]);
      heading->setAlignment(Qt::AlignCenter);
      headings->addWidget(heading);
    }
    headings->addStretch(1);
    column->addLayout(headings);

    auto* frame = new QFrame(this);
    frame->setFrameShape(QFrame::Box);
    frame->setFrameShadow(QFrame::Sunken);
    column->addWidget(frame);
    auto* grid = new QGridLayout(frame);
    grid->setContentsMargins(5, 4, 5, 4);
    grid->setHorizontalSpacing(4);
    grid->setVerticalSpacing(2);
    for (int r = 0; r < 6; ++r) {
      const int channel = half * 6 + r;
      const Row& row = rows[channel];
      auto* check = new QCheckBox(QString::fromUtf16(row.name), frame);
      check->setFixedWidth(widths[0]);
      auto* factor = new QComboBox(frame);
      factor->setEditable(true);
      factor->setInsertPolicy(QComboBox::NoInsert);
      factor->setFixedWidth(widths[1]);
      auto* color = new TColorBox(false, frame);
      color->setFixedWidth(widths[2]);
      *row.check = check;
      *row.factor = factor;
      *row.color = color;
      CheckBoxes[channel] = check;
      ComboBoxes[channel] = factor;
      ColorBoxes[channel] = color;
      grid->addWidget(check, r, 0);
      grid->addWidget(factor, r, 1);
      grid->addWidget(color, r, 2);
    }
  }

  // Panel colours and chart options on the left, the buttons at the lower right.
  auto* bottom = new QHBoxLayout;
  bottom->setSpacing(8);
  root->addLayout(bottom);
  auto* options = new QGridLayout;
  options->setHorizontalSpacing(6);
  options->setVerticalSpacing(2);
  bottom->addLayout(options);
  ColorBoxChartEnd = new TColorBox(true, this);
  ColorBoxChartStart = new TColorBox(true, this);
  ColorBoxChartEnd->setFixedWidth(112);
  ColorBoxChartStart->setFixedWidth(112);
  auto* endLabel = new QLabel(QStringLiteral(u"Цвет панели диаграммы сверху"), this);
  auto* startLabel = new QLabel(QStringLiteral(u"Цвет панели диаграммы снизу"), this);
  endLabel->setBuddy(ColorBoxChartEnd);
  startLabel->setBuddy(ColorBoxChartStart);
  options->addWidget(ColorBoxChartEnd, 0, 0);
  options->addWidget(endLabel, 0, 1);
  options->addWidget(ColorBoxChartStart, 1, 0);
  options->addWidget(startLabel, 1, 1);
  CheckBoxLogarifm = new QCheckBox(QStringLiteral(u"Логарифмическая шкала результатов измерения"), this);
  CheckBox3D = new QCheckBox(QStringLiteral(u"Вывод в объемные графики"), this);
  options->addWidget(CheckBoxLogarifm, 2, 0, 1, 2);
  options->addWidget(CheckBox3D, 3, 0, 1, 2);
  bottom->addStretch(1);

  auto* buttons = new QVBoxLayout;
  buttons->setSpacing(8);
  bottom->addLayout(buttons);
  ButtonCancel = new QPushButton(QStringLiteral(u"Отмена"), this);
  ButtonApply = new QPushButton(QStringLiteral(u"Применить"), this);
  ButtonCancel->setFixedSize(82, 27);
  ButtonApply->setFixedSize(82, 27);
  ButtonApply->setDefault(true);
  buttons->addStretch(1);
  buttons->addWidget(ButtonCancel);
  buttons->addWidget(ButtonApply);
  root->addStretch(1);

  connect(ButtonApply, &QPushButton::clicked, this, &TFormSetView::accept);
  connect(ButtonCancel, &QPushButton::clicked, this, &TFormSetView::reject);
  for (QComboBox* box : ComboBoxes) ConfirmOnEnter(box, ButtonApply);
}

void TFormSetView::Fill(const TProgramSettings& settings) {
  setResult(QDialog::Rejected);
  for (int i = 0; i < kChannelCount; ++i) {
    CheckBoxes[i]->setChecked(settings.ChannelView[i].Show != 0);
    // The items follow the locale's separator, so "0,1" always reads back.
    QComboBox* box = ComboBoxes[i];
    box->clear();
    for (double f : kFactors) box->addItem(NumberText(f));
    const QString text = NumberText(settings.ChannelView[i].Multiplier);
    box->setCurrentIndex(box->findText(text));
    box->setEditText(text);
  }
  CheckBoxLogarifm->setChecked(settings.LogScale != 0);
  CheckBox3D->setChecked(settings.View3D != 0);
  ColorBoxChartStart->SetSelected(settings.ChartColorStart);
  ColorBoxChartEnd->SetSelected(settings.ChartColorEnd);
  for (int i = 0; i < kChannelCount; ++i) ColorBoxes[i]->SetSelected(settings.SeriesColor[i]);
  CheckBoxes[0]->setFocus();
}

int TFormSetView::FirstInvalidFactor() const {
  for (int i = 0; i < kChannelCount; ++i)
    if (!ReadFloat(ComboBoxes[i]->currentText())) return i;
  return -1;
}

bool TFormSetView::TakeOver(TProgramSettings& settings) const {
  if (FirstInvalidFactor() >= 0) return false;
  for (int i = 0; i < kChannelCount; ++i) {
    settings.ChannelView[i].Show = CheckBoxes[i]->isChecked() ? 1 : 0;
    settings.ChannelView[i].Multiplier = *ReadFloat(ComboBoxes[i]->currentText());
  }
  settings.LogScale = CheckBoxLogarifm->isChecked() ? 1 : 0;
  settings.View3D = CheckBox3D->isChecked() ? 1 : 0;
  settings.ChartColorStart = ColorBoxChartStart->Selected();
  settings.ChartColorEnd = ColorBoxChartEnd->Selected();
  for (int i = 0; i < kChannelCount; ++i) settings.SeriesColor[i] = ColorBoxes[i]->Selected();
  return true;
}

void TFormSetView::accept() {
  const int invalid = FirstInvalidFactor();
  if (invalid >= 0) {
    QComboBox* box = ComboBoxes[invalid];
    seams::ErrorBox(this, NotAFloatText(box->currentText()));
    box->setFocus();
    box->lineEdit()->selectAll();
    return;
  }
  QDialog::accept();
}
