#pragma once
// FormFuel: the fuel parameters dialog ("Параметры топлива и расчетов"): the
// fuel being burnt and the coefficients of its row of FuelTable.

#include <QDialog>
#include <cstdint>

#include "device/fuel_table.h"

class QComboBox;
class QKeyEvent;
class QLineEdit;
class QPushButton;

class TFormFuel : public QDialog {
  Q_OBJECT
 public:
  explicit TFormFuel(QWidget* parent = nullptr);

  QComboBox* ComboBoxFuel;
  QLineEdit* EditCO2max;
  QLineEdit* EditTmax;
  QLineEdit* EditkfP;
  QLineEdit* EditkfC;
  QLineEdit* EditkfK;
  QLineEdit* EditkfB;
  QLineEdit* EditO2ref;
  QComboBox* ComboBoxUnits;  // "ppm", shown only
  QComboBox* ComboBoxBasis;  // "без учета разбавления", shown only
  QPushButton* ButtonApply;   // "Применить"
  QPushButton* ButtonCancel;  // "Отмена"

  // Index of the fuel shown, 0..11.
  uint8_t SelectedFuel = 0;

  // Run once at creation: fills the fuel list with the names of FuelTable.
  void FormCreate();
  // Shows row `index` of FuelTable and makes it the selected fuel.
  void FuelChange(uint8_t index);
  // The fuel list's text changed by the user: a text that names no item is a
  // new fuel's name, which row 11 takes at once; an item shows its row.
  void ComboBoxFuelChange();
  // Key filter of the seven edits: of the characters typed only digits and the
  // decimal comma get through; editing keys and shortcuts are not touched.
  // True when the key is discarded.
  bool EditCO2maxKeyPress(QKeyEvent* event);

  // Writes the seven edited values into `row`, scaled and rounded. All are
  // read first: when one cannot be, nothing is written and false is returned.
  bool TakeOver(TFuelRow& row) const;

  // "Применить": checks every field first and keeps the dialog open, with the
  // error shown and the field selected, when one cannot be taken over.
  void accept() override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void FuelTextEdited(const QString& text);
  // The edits in the order they are taken over, with their scales.
  struct Field {
    QLineEdit* edit;
    int scaleDigits;
  };
  static constexpr int kFieldCount = 7;
  Field Fields(int i) const;
  // Index of the first field that cannot be taken over, with the message, or -1.
  int FirstInvalidField(QString* message) const;

  bool typedCharacter_ = false;
};
