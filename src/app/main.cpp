// Korvex: the desktop front end of the Korvex stationary flue-gas analyzer.

#include <QApplication>
#include <QFont>

#include "app/Korvex_ModbusRTU_MainChat.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("korvex"));
  // The windows were laid out for "MS Sans Serif" 8 pt; where that face is
  // missing a close sans serif stands in.
  QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
                             {QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans"),
                              QStringLiteral("Arial")});
  QApplication::setFont(QFont(QStringLiteral("MS Sans Serif"), 8));

  CreateForms();
  Form1->show();
  const int code = app.exec();
  DestroyForms();
  return code;
}
