#include "dialogs/Korvex_ModbusRTU_SetUnit.h"

#include "app/glyphs.h"

TFormControl::TFormControl(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral(u"Опции"));
  setWindowIcon(glyphs::WindowIcon(glyphs::Window::Options));
}

void TFormControl::Fill(const TProgramSettings&, const TDeviceRecord&) {}

void TFormControl::TakeOver(TProgramSettings&, TDeviceRecord&) const {}
