// Korvex: the desktop front end of the Korvex stationary flue-gas analyzer.

#include <QApplication>
#include <QFont>
#include <QScreen>

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
  // The main window opens in the middle of the screen.
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect frame = Form1->frameGeometry();
    Form1->move(screen->availableGeometry().center() - QPoint(frame.width() / 2, frame.height() / 2));
  }
  Form1->show();
  const int code = app.exec();
  DestroyForms();
  return code;
}
