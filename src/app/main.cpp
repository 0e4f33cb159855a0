// Korvex: the desktop front end of the Korvex stationary flue-gas analyzer.
// With --headless it runs as a service without a window.

#include <QApplication>
#include <QCoreApplication>
#include <QFont>
#include <QScreen>
#include <QStyle>
#include <cstdio>
#include <cstring>

#include "app/headless_service.h"
#include "app/main_window.h"
#include "app/session.h"
#include "app/termination_signals.h"
#include "app/verify_command.h"
#include "view/cached_scroll_bar_style.h"

namespace {

bool hasArgument(int argc, char* argv[], const char* name) {
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], name) == 0) return true;
  return false;
}

// The options after the program's name; a wrong one is told with the usage.
bool parseArguments(HeadlessOptions* options) {
  QString error;
  if (HeadlessOptions::parse(QCoreApplication::arguments().mid(1), options, &error)) return true;
  std::fputs((error + QLatin1Char('\n') + HeadlessOptions::usage() + QLatin1Char('\n')).toUtf8().constData(), stderr);
  return false;
}

int runHeadless(int argc, char* argv[]) {
  // No display, no widgets: a plain core application.
  QCoreApplication app(argc, argv);
  // First of all: a SIGTERM from now on waits for the event loop instead of
  // ending the service in the middle of its start.
  TerminationSignals termination;
  QCoreApplication::setApplicationName(QStringLiteral("korvex"));
  HeadlessOptions options;
  if (!parseArguments(&options)) return 2;
  Session session;
  HeadlessService service(session, options);
  QObject::connect(&termination, &TerminationSignals::received, &app, [&](int) {
    service.stop();
    QCoreApplication::exit(0);
  });
  service.start();
  return QCoreApplication::exec();
}

int runVerify(int argc, char* argv[]) {
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("korvex"));
  return runVerify(QCoreApplication::arguments().mid(1));
}

}  // namespace

int main(int argc, char* argv[]) {
  if (hasArgument(argc, argv, "--verify")) return runVerify(argc, argv);
  if (hasArgument(argc, argv, "--headless")) return runHeadless(argc, argv);

  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("korvex"));
  // The windows were laid out for "MS Sans Serif" 8 pt; where that face is
  // missing a close sans serif stands in.
  QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
                             {QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans"),
                              QStringLiteral("Arial")});
  QApplication::setFont(QFont(QStringLiteral("MS Sans Serif"), 8));
  // The table's scroll bars are repainted every second: their looks come
  // from a cache, so that repaint wakes no drawing threads.
  QApplication::setStyle(new CachedScrollBarStyle(QApplication::style()->name()));

  // The window takes --mode and --dir as the service does: a boiler-house PC
  // can start measuring by itself after a power cut.
  HeadlessOptions options;
  if (!parseArguments(&options)) return 2;
  options.applyDirectory();
  Session session;
  MainWindow window(session);
  if (options.modeGiven) window.setStartMode(options.mode);
  // The main window opens in the middle of the screen.
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect frame = window.frameGeometry();
    window.move(screen->availableGeometry().center() - QPoint(frame.width() / 2, frame.height() / 2));
  }
  window.show();
  return app.exec();
}
