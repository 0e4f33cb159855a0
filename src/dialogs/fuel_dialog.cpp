#include "dialogs/fuel_dialog.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "ui/glyphs.h"
#include "platform/seams.h"
#include "ui/widget_seams.h"
#include "dialogs/dialog_controls.h"
#include "dialogs/number_text.h"

FuelDialog::FuelDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral(u"Параметры топлива и расчетов"));
  setWindowIcon(glyphs::windowIcon(glyphs::Window::Fuel));
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                 Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  // 381 x 371 with the frame of a dialog window.
  setFixedSize(373, 337);
  setObjectName(QStringLiteral("FormFuel"));

  auto* root = new QVBoxLayout(this);
  root->setContentsMargins(6, 6, 6, 8);
  root->setSpacing(6);
  root->addWidget(headingPanel(QStringLiteral(u"ПАРАМЕТРЫ ТОПЛИВА"), this));

  fuelCombo_ = new QComboBox(this);
  fuelCombo_->setObjectName(QStringLiteral("ComboBoxFuel"));
  fuelCombo_->setEditable(true);
  fuelCombo_->setInsertPolicy(QComboBox::NoInsert);
  fuelCombo_->setCompleter(nullptr);  // the list completes typed names itself
  fuelCombo_->setMaxVisibleItems(kFuelCount);
  root->addWidget(fuelCombo_);

  auto* grid = new QGridLayout;
  grid->setContentsMargins(0, 4, 0, 4);
  grid->setHorizontalSpacing(8);
  grid->setVerticalSpacing(4);
  root->addLayout(grid);
  // "СО2", "О2", "Р" and "К" are Cyrillic; "T'max", "B" and "C'" Latin.
  struct Row {
    const char* name;
    const char16_t* label;
  };
  const Row rows[kFieldCount] = {
      {"EditCO2max", u"\u0421\u041e2, максимальное"},
      {"EditTmax", u"T'max, жаропроизводительность"},
      {"EditkfP", u"\u0420, теплотворность"},
      {"EditkfC", u"C', соотношение теплоемкостей вл. и сух. газов"},
      {"EditkfK", u"\u041a, соотн. теплоем. воздуха и газа"},
      {"EditkfB", u"B, соотн. объемов влаж. и сухих газов"},
      {"EditO2ref", u"\u041e2, образцовое"},
  };
  for (int r = 0; r < kFieldCount; ++r) {
    auto* edit = new QLineEdit(this);
    edit->setObjectName(QLatin1String(rows[r].name));
    edit->setFixedWidth(57);
    edit->installEventFilter(this);
    edits_[r] = edit;
    auto* label = new QLabel(QString::fromUtf16(rows[r].label), this);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    label->setBuddy(edit);
    grid->addWidget(label, r, 0);
    grid->addWidget(edit, r, 1);
  }
  grid->setColumnStretch(0, 1);

  auto* lists = new QHBoxLayout;
  lists->setSpacing(8);
  root->addLayout(lists);
  // Shown only: the program works in ppm without dilution.
  auto* units = new QComboBox(this);
  units->setObjectName(QStringLiteral("ComboBoxUnits"));
  units->addItem(QStringLiteral("ppm"));
  units->setFixedWidth(80);
  auto* basis = new QComboBox(this);
  basis->setObjectName(QStringLiteral("ComboBoxBasis"));
  basis->addItem(QStringLiteral(u"без учета разбавления"));
  lists->addWidget(units);
  lists->addWidget(basis, 1);

  root->addStretch(1);
  auto* buttons = new QHBoxLayout;
  buttons->setSpacing(8);
  root->addLayout(buttons);
  auto* applyButton = new QPushButton(QStringLiteral(u"Применить"), this);
  auto* cancelButton = new QPushButton(QStringLiteral(u"Отмена"), this);
  applyButton->setObjectName(QStringLiteral("ButtonApply"));
  cancelButton->setObjectName(QStringLiteral("ButtonCancel"));
  applyButton->setFixedSize(82, 27);
  cancelButton->setFixedSize(82, 27);
  applyButton->setDefault(true);
  buttons->addStretch(1);
  buttons->addWidget(applyButton);
  buttons->addWidget(cancelButton);

  connect(applyButton, &QPushButton::clicked, this, &FuelDialog::accept);
  connect(cancelButton, &QPushButton::clicked, this, &FuelDialog::reject);
  confirmOnEnter(fuelCombo_, applyButton);
  connect(fuelCombo_, &QComboBox::activated, this, [this] { onFuelTextChanged(); });
  connect(fuelCombo_->lineEdit(), &QLineEdit::textEdited, this, &FuelDialog::onFuelTextEdited);
  // Key presses reach the combo box, which hands them to its edit.
  fuelCombo_->installEventFilter(this);

  // The list holds the names of the built-in fuels.
  const QSignalBlocker block(fuelCombo_);
  for (const FuelRow& row : table_) fuelCombo_->addItem(row.name);
}

void FuelDialog::showFuel(const FuelTable& table, uint8_t index) {
  table_ = table;
  showRow(index);
}

void FuelDialog::showRow(uint8_t index) {
  if (index >= kFuelCount) index = 0;
  selectedFuel_ = index;
  const FuelRow& row = table_[index];
  {
    const QSignalBlocker block(fuelCombo_);
    if (fuelCombo_->currentIndex() != index) fuelCombo_->setCurrentIndex(index);
    // The same text keeps what completion has selected in it.
    if (fuelCombo_->currentText() != row.name) fuelCombo_->setEditText(row.name);
  }
  edits_[kCo2Max]->setText(numberText(row.co2Max / 1000.0));
  edits_[kTMax]->setText(QString::number(row.tMax));
  edits_[kKfP]->setText(QString::number(row.kfP));
  edits_[kKfC]->setText(numberText(row.kfC / 1000.0));
  edits_[kKfK]->setText(numberText(row.kfK / 1000.0));
  edits_[kKfB]->setText(numberText(row.kfB / 1000.0));
  edits_[kO2Ref]->setText(QString::number(row.o2Ref));
}

void FuelDialog::onFuelTextChanged() {
  const int index = fuelCombo_->currentIndex();
  if (index < 0 || index >= kFuelCount) {
    // A name being typed: row 11 is the slot of the user's own fuel.
    table_[kFuelCount - 1].name = fuelCombo_->currentText();
    selectedFuel_ = kFuelCount - 1;
    return;
  }
  selectedFuel_ = uint8_t(index);
  showRow(uint8_t(index));
}

void FuelDialog::onFuelTextEdited(const QString& text) {
  QLineEdit* edit = fuelCombo_->lineEdit();
  const bool typed = typedCharacter_;
  typedCharacter_ = false;
  int match = -1;
  if (typed && !text.isEmpty()) {
    // A typed beginning of a name shows the first such name, the rest selected.
    for (int i = 0; i < fuelCombo_->count() && match < 0; ++i)
      if (fuelCombo_->itemText(i).startsWith(text, Qt::CaseInsensitive)) match = i;
  } else {
    // Deleting or pasting does not complete; only a whole name picks its item.
    match = fuelCombo_->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
  }
  const QSignalBlocker block(fuelCombo_);
  if (match >= 0) {
    fuelCombo_->setCurrentIndex(match);
    const QString name = fuelCombo_->itemText(match);
    edit->setText(name);
    edit->setSelection(int(name.size()), -int(name.size() - qMin(text.size(), name.size())));
  } else {
    const int cursor = edit->cursorPosition();
    fuelCombo_->setCurrentIndex(-1);
    edit->setText(text);
    edit->setCursorPosition(cursor);
  }
  onFuelTextChanged();
}

bool FuelDialog::filterKey(QKeyEvent* event) {
  const QString typed = event->text();
  if (typed.isEmpty() || (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) return false;
  for (QChar c : typed) {
    if (!c.isPrint()) continue;  // Backspace, Enter, Escape, Tab
    const bool digit = c >= QLatin1Char('0') && c <= QLatin1Char('9');
    // The comma, and the locale's separator where that is another character.
    if (!digit && c != QLatin1Char(',') && c != decimalSeparator()) return true;
  }
  return false;
}

bool FuelDialog::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    if (watched == fuelCombo_) {
      typedCharacter_ = !key->text().isEmpty() && key->text().at(0).isPrint() &&
                        !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier));
      return false;
    }
    if (qobject_cast<QLineEdit*>(watched) && filterKey(key)) return true;
  }
  return QDialog::eventFilter(watched, event);
}

void FuelDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  fuelCombo_->setFocus();
}

int FuelDialog::firstInvalidField(QString* message) const {
  for (int i = 0; i < kFieldCount; ++i) {
    int32_t value = 0;
    switch (readScaledInt(edits_[i]->text(), kScaleDigits[i], &value)) {
      case ScaledRead::Ok: break;
      case ScaledRead::NotANumber:
        if (message) *message = notAFloatText(edits_[i]->text());
        return i;
      case ScaledRead::OutOfRange:
        if (message) *message = rangeErrorText();
        return i;
    }
  }
  return -1;
}

bool FuelDialog::takeOver(FuelTable& table) const {
  if (firstInvalidField(nullptr) >= 0) return false;
  table = table_;
  FuelRow& row = table[selectedFuel_];
  int32_t values[kFieldCount] = {};
  for (int i = 0; i < kFieldCount; ++i) readScaledInt(edits_[i]->text(), kScaleDigits[i], &values[i]);
  row.co2Max = values[kCo2Max];
  row.tMax = values[kTMax];
  row.kfP = values[kKfP];
  row.kfC = values[kKfC];
  row.kfK = values[kKfK];
  row.kfB = values[kKfB];
  row.o2Ref = values[kO2Ref];
  return true;
}

void FuelDialog::accept() {
  QString message;
  const int invalid = firstInvalidField(&message);
  if (invalid >= 0) {
    QLineEdit* edit = edits_[invalid];
    seams::errorBox(this, message);
    edit->setFocus();
    edit->selectAll();
    return;
  }
  QDialog::accept();
}
