#include "dialogs/Korvex_ModbusRTU_SetParam.h"

#include "app/glyphs.h"

TFormSetView::TFormSetView(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral(u"Параметры просмотра"));
  setWindowIcon(glyphs::WindowIcon(glyphs::Window::View));
}

void TFormSetView::Fill(const TProgramSettings&) {}

void TFormSetView::TakeOver(TProgramSettings&) const {}
