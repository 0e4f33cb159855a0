#include "dialogs/Korvex_ModbusRTU_SetFuel.h"

#include "app/glyphs.h"

TFormFuel::TFormFuel(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral(u"Параметры топлива и расчетов"));
  setWindowIcon(glyphs::WindowIcon(glyphs::Window::Fuel));
}

void TFormFuel::FuelChange(uint8_t index) { SelectedFuel = index; }

void TFormFuel::TakeOver(TFuelRow&) const {}
