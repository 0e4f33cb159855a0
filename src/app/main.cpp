// Korvex: the desktop front end of the Korvex stationary flue-gas analyzer.

#include <QApplication>
#include <QFont>
#include <QScreen>

#include "app/main_window.h"
#include "app/session.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("korvex"));
  // The windows were laid out for "MS Sans Serif" 8 pt; where that face is
  // missing a close sans serif stands in.
  QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
                             {QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans"),
                              QStringLiteral("Arial")});
  QApplication::setFont(QFont(QStringLiteral("MS Sans Serif"), 8));

  Session session;
  MainWindow window(session);
  // The main window opens in the middle of the screen.
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect frame = window.frameGeometry();
    window.move(screen->availableGeometry().center() - QPoint(frame.width() / 2, frame.height() / 2));
  }
  window.show();
  return app.exec();
}
