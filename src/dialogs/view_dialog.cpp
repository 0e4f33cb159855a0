#include "dialogs/view_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/glyphs.h"
#include "platform/seams.h"
#include "ui/widget_seams.h"
#include "dialogs/dialog_controls.h"
#include "data/value_format.h"
#include "dialogs/number_text.h"

namespace {

const double kFactors[] = {0.1, 1, 10, 100, 1000};

}  // namespace

ViewDialog::ViewDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral(u"Параметры просмотра"));
  setWindowIcon(glyphs::windowIcon(glyphs::Window::View));
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                 Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  setFixedSize(481, 284);

  // The controls keep the names the operator's documentation uses.
  const char* const kNames[kChannelCount] = {"TG", "O2", "CO", "NO", "NO2", "SO2", "H2S", "CO2", "NOx", "QA", "Alf", "Ta"};
  const char* const kBoxNames[kChannelCount] = {"Tg", "O2", "CO", "NO", "NO2", "SO2", "H2S", "CO2", "NOx", "Qa", "Alf", "Ta"};

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
      auto* check = new QCheckBox(kChannelTitles[channel], frame);
      check->setObjectName(QStringLiteral("CheckBox") + QLatin1String(kNames[channel]));
      check->setFixedWidth(widths[0]);
      auto* factor = new QComboBox(frame);
      factor->setObjectName(QStringLiteral("ComboBox") + QLatin1String(kBoxNames[channel]));
      factor->setEditable(true);
      factor->setInsertPolicy(QComboBox::NoInsert);
      factor->setFixedWidth(widths[1]);
      auto* color = new ColorBox(false, frame);
      color->setObjectName(QStringLiteral("ColorBoxChart") + QLatin1String(kBoxNames[channel]));
      color->setFixedWidth(widths[2]);
      showBoxes_[channel] = check;
      factorBoxes_[channel] = factor;
      colorBoxes_[channel] = color;
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
  topColorBox_ = new ColorBox(true, this);
  bottomColorBox_ = new ColorBox(true, this);
  topColorBox_->setFixedWidth(112);
  bottomColorBox_->setFixedWidth(112);
  auto* endLabel = new QLabel(QStringLiteral(u"Цвет панели диаграммы сверху"), this);
  auto* startLabel = new QLabel(QStringLiteral(u"Цвет панели диаграммы снизу"), this);
  endLabel->setBuddy(topColorBox_);
  startLabel->setBuddy(bottomColorBox_);
  options->addWidget(topColorBox_, 0, 0);
  options->addWidget(endLabel, 0, 1);
  options->addWidget(bottomColorBox_, 1, 0);
  options->addWidget(startLabel, 1, 1);
  logScaleBox_ = new QCheckBox(QStringLiteral(u"Логарифмическая шкала результатов измерения"), this);
  view3DBox_ = new QCheckBox(QStringLiteral(u"Вывод в объемные графики"), this);
  options->addWidget(logScaleBox_, 2, 0, 1, 2);
  options->addWidget(view3DBox_, 3, 0, 1, 2);
  bottom->addStretch(1);

  auto* buttons = new QVBoxLayout;
  buttons->setSpacing(8);
  bottom->addLayout(buttons);
  auto* cancelButton = new QPushButton(QStringLiteral(u"Отмена"), this);
  auto* applyButton = new QPushButton(QStringLiteral(u"Применить"), this);
  cancelButton->setFixedSize(82, 27);
  applyButton->setFixedSize(82, 27);
  applyButton->setDefault(true);
  buttons->addStretch(1);
  buttons->addWidget(cancelButton);
  buttons->addWidget(applyButton);
  root->addStretch(1);

  setObjectName(QStringLiteral("FormSetView"));
  topColorBox_->setObjectName(QStringLiteral("ColorBoxChartEnd"));
  bottomColorBox_->setObjectName(QStringLiteral("ColorBoxChartStart"));
  logScaleBox_->setObjectName(QStringLiteral("CheckBoxLogarifm"));
  view3DBox_->setObjectName(QStringLiteral("CheckBox3D"));
  applyButton->setObjectName(QStringLiteral("ButtonApply"));
  cancelButton->setObjectName(QStringLiteral("ButtonCancel"));

  connect(applyButton, &QPushButton::clicked, this, &ViewDialog::accept);
  connect(cancelButton, &QPushButton::clicked, this, &ViewDialog::reject);
  for (QComboBox* box : factorBoxes_) confirmOnEnter(box, applyButton);
}

void ViewDialog::fill(const ViewSettings& settings) {
  setResult(QDialog::Rejected);
  for (int i = 0; i < kChannelCount; ++i) {
    const ChannelLook& look = settings.channels[size_t(i)];
    showBoxes_[i]->setChecked(look.shown);
    // The items follow the locale's separator, so "0,1" always reads back.
    QComboBox* box = factorBoxes_[i];
    box->clear();
    for (double f : kFactors) box->addItem(numberText(f));
    const QString text = numberText(look.factor);
    box->setCurrentIndex(box->findText(text));
    box->setEditText(text);
  }
  logScaleBox_->setChecked(settings.logScale);
  view3DBox_->setChecked(settings.view3D);
  bottomColorBox_->setSelectedColor(settings.chartColorStart);
  topColorBox_->setSelectedColor(settings.chartColorEnd);
  for (int i = 0; i < kChannelCount; ++i) colorBoxes_[i]->setSelectedColor(settings.channels[size_t(i)].color);
  showBoxes_[0]->setFocus();
}

int ViewDialog::firstInvalidFactor() const {
  for (int i = 0; i < kChannelCount; ++i)
    if (!readFloat(factorBoxes_[i]->currentText())) return i;
  return -1;
}

bool ViewDialog::takeOver(ViewSettings& settings) const {
  if (firstInvalidFactor() >= 0) return false;
  for (int i = 0; i < kChannelCount; ++i) {
    ChannelLook& look = settings.channels[size_t(i)];
    look.shown = showBoxes_[i]->isChecked();
    look.factor = *readFloat(factorBoxes_[i]->currentText());
    look.color = colorBoxes_[i]->selectedColor();
  }
  settings.logScale = logScaleBox_->isChecked();
  settings.view3D = view3DBox_->isChecked();
  settings.chartColorStart = bottomColorBox_->selectedColor();
  settings.chartColorEnd = topColorBox_->selectedColor();
  return true;
}

void ViewDialog::accept() {
  const int invalid = firstInvalidFactor();
  if (invalid >= 0) {
    QComboBox* box = factorBoxes_[invalid];
    seams::errorBox(this, notAFloatText(box->currentText()));
    box->setFocus();
    box->lineEdit()->selectAll();
    return;
  }
  QDialog::accept();
}
