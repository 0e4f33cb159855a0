#include "dialogs/Korvex_ModbusRTU_SetFuel.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "app/glyphs.h"
#include "app/platform_seams.h"
#include "dialogs/dialog_controls.h"
#include "dialogs/number_text.h"

TFormFuel::TFormFuel(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral(u"Параметры топлива и расчетов"));
  setWindowIcon(glyphs::WindowIcon(glyphs::Window::Fuel));
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                 Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  // 381 x 371 with the frame of a dialog window.
  setFixedSize(373, 337);

  auto* root = new QVBoxLayout(this);
  root->setContentsMargins(6, 6, 6, 8);
  root->setSpacing(6);
  root->addWidget(HeadingPanel(QStringLiteral(u"ПАРАМЕТРЫ ТОПЛИВА"), this));

  ComboBoxFuel = new QComboBox(this);
  ComboBoxFuel->setEditable(true);
  ComboBoxFuel->setInsertPolicy(QComboBox::NoInsert);
  ComboBoxFuel->setCompleter(nullptr);  // the list completes typed names itself
  ComboBoxFuel->setMaxVisibleItems(kFuelCount);
  root->addWidget(ComboBoxFuel);

  auto* grid = new QGridLayout;
  grid->setContentsMargins(0, 4, 0, 4);
  grid->setHorizontalSpacing(8);
  grid->setVerticalSpacing(4);
  root->addLayout(grid);
  // "СО2", "О2", "Р" and "К" are Cyrillic; "T'max", "B" and "C'" Latin.
  struct Row {
    QLineEdit** edit;
    const char16_t* label;
  };
  const Row rows[kFieldCount] = {
      {&EditCO2max, u"\u0421\u041e2, максимальное"},
      {&EditTmax, u"T'max, жаропроизводительность"},
      {&EditkfP, u"\u0420, теплотворность"},
      {&EditkfC, u"C', соотношение теплоемкостей вл. и сух. газов"},
      {&EditkfK, u"\u041a, соотн. теплоем. воздуха и газа"},
      {&EditkfB, u"B, соотн. объемов влаж. и сухих газов"},
      {&EditO2ref, u"\u041e2, образцовое"},
  };
  for (int r = 0; r < kFieldCount; ++r) {
    auto* edit = new QLineEdit(this);
    edit->setFixedWidth(57);
    edit->installEventFilter(this);
    *rows[r].edit = edit;
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
  ComboBoxUnits = new QComboBox(this);
  ComboBoxUnits->addItem(QStringLiteral("ppm"));
  ComboBoxUnits->setFixedWidth(80);
  ComboBoxBasis = new QComboBox(this);
  ComboBoxBasis->addItem(QStringLiteral(u"без учета разбавления"));
  lists->addWidget(ComboBoxUnits);
  lists->addWidget(ComboBoxBasis, 1);

  root->addStretch(1);
  auto* buttons = new QHBoxLayout;
  buttons->setSpacing(8);
  root->addLayout(buttons);
  ButtonApply = new QPushButton(QStringLiteral(u"Применить"), this);
  ButtonCancel = new QPushButton(QStringLiteral(u"Отмена"), this);
  ButtonApply->setFixedSize(82, 27);
  ButtonCancel->setFixedSize(82, 27);
  ButtonApply->setDefault(true);
  buttons->addStretch(1);
  buttons->addWidget(ButtonApply);
  buttons->addWidget(ButtonCancel);

  connect(ButtonApply, &QPushButton::clicked, this, &TFormFuel::accept);
  connect(ButtonCancel, &QPushButton::clicked, this, &TFormFuel::reject);
  ConfirmOnEnter(ComboBoxFuel, ButtonApply);
  connect(ComboBoxFuel, &QComboBox::activated, this, [this] { ComboBoxFuelChange(); });
  connect(ComboBoxFuel->lineEdit(), &QLineEdit::textEdited, this, &TFormFuel::FuelTextEdited);
  // Key presses reach the combo box, which hands them to its edit.
  ComboBoxFuel->installEventFilter(this);

  FormCreate();
}

void TFormFuel::FormCreate() {
  SelectedFuel = 0;
  const QSignalBlocker block(ComboBoxFuel);
  ComboBoxFuel->clear();
  for (const TFuelRow& row : FuelTable) ComboBoxFuel->addItem(row.Name);
}

TFormFuel::Field TFormFuel::Fields(int i) const {
  const Field fields[kFieldCount] = {{EditCO2max, 3}, {EditTmax, 0}, {EditkfP, 0}, {EditkfC, 3},
                                     {EditkfK, 3},    {EditkfB, 3},  {EditO2ref, 0}};
  return fields[i];
}

void TFormFuel::FuelChange(uint8_t index) {
  if (index >= kFuelCount) index = 0;
  SelectedFuel = index;
  const TFuelRow& row = FuelTable[index];
  {
    const QSignalBlocker block(ComboBoxFuel);
    if (ComboBoxFuel->currentIndex() != index) ComboBoxFuel->setCurrentIndex(index);
    // The same text keeps what completion has selected in it.
    if (ComboBoxFuel->currentText() != row.Name) ComboBoxFuel->setEditText(row.Name);
  }
  EditCO2max->setText(NumberText(row.CO2max / 1000.0));
  EditTmax->setText(QString::number(row.Tmax));
  EditkfP->setText(QString::number(row.kfP));
  EditkfC->setText(NumberText(row.kfC / 1000.0));
  EditkfK->setText(NumberText(row.kfK / 1000.0));
  EditkfB->setText(NumberText(row.kfB / 1000.0));
  EditO2ref->setText(QString::number(row.O2ref));
}

void TFormFuel::ComboBoxFuelChange() {
  const int index = ComboBoxFuel->currentIndex();
  if (index < 0 || index >= kFuelCount) {
    // A name being typed: row 11 is the slot of the user's own fuel.
    FuelTable[kFuelCount - 1].Name = ComboBoxFuel->currentText();
    SelectedFuel = kFuelCount - 1;
    return;
  }
  SelectedFuel = uint8_t(index);
  FuelChange(uint8_t(index));
}

void TFormFuel::FuelTextEdited(const QString& text) {
  QLineEdit* edit = ComboBoxFuel->lineEdit();
  const bool typed = typedCharacter_;
  typedCharacter_ = false;
  int match = -1;
  if (typed && !text.isEmpty()) {
    // A typed beginning of a name shows the first such name, the rest selected.
    for (int i = 0; i < ComboBoxFuel->count() && match < 0; ++i)
      if (ComboBoxFuel->itemText(i).startsWith(text, Qt::CaseInsensitive)) match = i;
  } else {
    // Deleting or pasting does not complete; only a whole name picks its item.
    match = ComboBoxFuel->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
  }
  const QSignalBlocker block(ComboBoxFuel);
  if (match >= 0) {
    ComboBoxFuel->setCurrentIndex(match);
    const QString name = ComboBoxFuel->itemText(match);
    edit->setText(name);
    edit->setSelection(int(name.size()), -int(name.size() - qMin(text.size(), name.size())));
  } else {
    const int cursor = edit->cursorPosition();
    ComboBoxFuel->setCurrentIndex(-1);
    edit->setText(text);
    edit->setCursorPosition(cursor);
  }
  ComboBoxFuelChange();
}

bool TFormFuel::EditCO2maxKeyPress(QKeyEvent* event) {
  const QString typed = event->text();
  if (typed.isEmpty() || (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) return false;
  for (QChar c : typed) {
    if (!c.isPrint()) continue;  // Backspace, Enter, Escape, Tab
    const bool digit = c >= QLatin1Char('0') && c <= QLatin1Char('9');
    // The comma, and the locale's separator where that is another character.
    if (!digit && c != QLatin1Char(',') && c != DecimalSeparator()) return true;
  }
  return false;
}

bool TFormFuel::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    if (watched == ComboBoxFuel) {
      typedCharacter_ = !key->text().isEmpty() && key->text().at(0).isPrint() &&
                        !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier));
      return false;
    }
    if (qobject_cast<QLineEdit*>(watched) && EditCO2maxKeyPress(key)) return true;
  }
  return QDialog::eventFilter(watched, event);
}

void TFormFuel::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  ComboBoxFuel->setFocus();
}

int TFormFuel::FirstInvalidField(QString* message) const {
  for (int i = 0; i < kFieldCount; ++i) {
    const Field f = Fields(i);
    int32_t value = 0;
    switch (ReadScaledInt(f.edit->text(), f.scaleDigits, &value)) {
      case ScaledRead::Ok: break;
      case ScaledRead::NotANumber:
        if (message) *message = NotAFloatText(f.edit->text());
        return i;
      case ScaledRead::OutOfRange:
        if (message) *message = RangeErrorText();
        return i;
    }
  }
  return -1;
}

bool TFormFuel::TakeOver(TFuelRow& row) const {
  if (FirstInvalidField(nullptr) >= 0) return false;
  int32_t values[kFieldCount] = {};
  for (int i = 0; i < kFieldCount; ++i) ReadScaledInt(Fields(i).edit->text(), Fields(i).scaleDigits, &values[i]);
  row.CO2max = values[0];
  row.Tmax = values[1];
  row.kfP = values[2];
  row.kfC = values[3];
  row.kfK = values[4];
  row.kfB = values[5];
  row.O2ref = values[6];
  return true;
}

void TFormFuel::accept() {
  QString message;
  const int invalid = FirstInvalidField(&message);
  if (invalid >= 0) {
    QLineEdit* edit = Fields(invalid).edit;
    seams::ErrorBox(this, message);
    edit->setFocus();
    edit->selectAll();
    return;
  }
  QDialog::accept();
}
