// Korvex: the desktop front end of the Korvex stationary flue-gas analyzer.
// With --headless it runs as the service korvexd does, without a window.

#include <QApplication>
#include <QCoreApplication>
#include <QFont>
#include <QScreen>
#include <QStyle>
#include <cstdio>
#include <cstring>

#include "app/main_window.h"
#include "platform/version.h"
#include "service/headless_service.h"
#include "view/cached_scroll_bar_style.h"

namespace {

bool hasArgument(int argc, char* argv[], const char* name) {
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], name) == 0) return true;
  return false;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (hasArgument(argc, argv, "--version")) {
    std::puts("korvex " KORVEX_VERSION);
    return 0;
  }
  if (hasArgument(argc, argv, "--headless")) return runService(argc, argv, QStringLiteral("korvex --headless"));

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

  // The window takes --mode, --dir and --port as the service does: a
  // boiler-house PC can start measuring by itself after a power cut.
  HeadlessOptions options;
  QString error;
  if (!HeadlessOptions::parse(QCoreApplication::arguments().mid(1), &options, &error)) {
    std::fputs((error + QLatin1Char('\n') + HeadlessOptions::usage(QStringLiteral("korvex")) + QLatin1Char('\n'))
                   .toUtf8()
                   .constData(),
               stderr);
    return 2;
  }
  options.applyDirectory();
  SessionHost::Options hostOptions;
  hostOptions.threading = SessionHost::Threading::OwnThread;
  hostOptions.port = options.port;
  hostOptions.mode = options.mode;
  hostOptions.modeGiven = options.modeGiven;
  SessionHost host(hostOptions);
  MainWindow window(host);
  // The main window opens in the middle of the screen.
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect frame = window.frameGeometry();
    window.move(screen->availableGeometry().center() - QPoint(frame.width() / 2, frame.height() / 2));
  }
  window.show();
  return app.exec();
}
