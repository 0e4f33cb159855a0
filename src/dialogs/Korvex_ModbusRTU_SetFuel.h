#pragma once
// FormFuel: the fuel parameters dialog ("Параметры топлива и расчетов").

#include <QDialog>
#include <cstdint>

#include "device/fuel_table.h"

class TFormFuel : public QDialog {
  Q_OBJECT
 public:
  explicit TFormFuel(QWidget* parent = nullptr);

  // Shows row `index` of FuelTable and makes it the selected fuel.
  void FuelChange(uint8_t index);
  // Writes the seven edited values into `row`.
  void TakeOver(TFuelRow& row) const;

  uint8_t SelectedFuel = 0;
};
