#pragma once
// The fuel parameters dialog ("Параметры топлива и расчетов"): the
// fuel being burnt and the coefficients of its row of the fuel table. It
// edits a copy of the table and hands it back.

#include <QDialog>
#include <cstdint>

#include "device/fuel_table.h"

class QComboBox;
class QKeyEvent;
class QLineEdit;
class QPushButton;

class FuelDialog : public QDialog {
  Q_OBJECT
 public:
  explicit FuelDialog(QWidget* parent = nullptr);

  // Index of the fuel shown, 0..11.
  uint8_t selectedFuel() const { return selectedFuel_; }
  // Shows row `index` of `table` (the dialog's copy from now on) and makes it
  // the selected fuel.
  void showFuel(const FuelTable& table, uint8_t index);
  // The dialog's copy of the table, a name typed for row 11 included.
  const FuelTable& table() const { return table_; }

  // The table with the seven edited values written into the selected fuel's
  // row, scaled and rounded. All are read first: when one cannot be,
  // `table` is left alone and false is returned.
  bool takeOver(FuelTable& table) const;

  // "Применить": checks every field first and keeps the dialog open, with the
  // error shown and the field selected, when one cannot be taken over.
  void accept() override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  // The fuel list's text changed by the user: a text that names no item is a
  // new fuel's name, which row 11 takes at once; an item shows its row.
  void showRow(uint8_t index);
  void onFuelTextChanged();
  void onFuelTextEdited(const QString& text);
  // Key filter of the seven edits: of the characters typed only digits and the
  // decimal comma get through; editing keys and shortcuts are not touched.
  // True when the key is discarded.
  bool filterKey(QKeyEvent* event);
  // Index of the first field that cannot be taken over, with the message, or -1.
  int firstInvalidField(QString* message) const;

  // The edits in the order they are taken over, and their decimal scales.
  enum Field { kCo2Max, kTMax, kKfP, kKfC, kKfK, kKfB, kO2Ref, kFieldCount };
  static constexpr int kScaleDigits[kFieldCount] = {3, 0, 0, 3, 3, 3, 0};

  FuelTable table_ = builtInFuelTable();
  QComboBox* fuelCombo_;
  QLineEdit* edits_[kFieldCount];
  uint8_t selectedFuel_ = 0;
  bool typedCharacter_ = false;
};
