// Korvex: the desktop front end of the Korvex stationary flue-gas analyzer.
// With --headless it runs as the service korvexd does, without a window.

#include <QApplication>
#include <QCoreApplication>
#include <QFileInfo>
#include <QFile>
#include <QFont>
#include <QGuiApplication>
#include <QScreen>
#include <QStyle>
#include <cstdio>
#include <cstring>

#include "app/main_window.h"
#include "app/report_pdf_command.h"
#include "app/verify_command.h"
#include "platform/qt_translations.h"
#include "platform/seams.h"
#include "platform/version.h"
#include "publish/service_settings.h"
#include "service/headless_service.h"
#include "service/termination_signals.h"
#include "view/cached_scroll_bar_style.h"
#include "web/central_source.h"
#include "web/web_service.h"

namespace {

bool hasArgument(int argc, char* argv[], const char* name) {
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], name) == 0) return true;
  return false;
}

void printLine(const QString& line) {
  std::fputs((line + QLatin1Char('\n')).toUtf8().constData(), stderr);
  std::fflush(stderr);
}

// The value after `name`, or empty.
QString argumentValue(const QStringList& args, const char* name) {
  const int i = int(args.indexOf(QLatin1String(name)));
  return i >= 0 && i + 1 < args.size() ? args[i + 1] : QString();
}

// The program's files are looked for in --dir, as the service does.
bool applyDirectoryOption(const QStringList& args) {
  HeadlessOptions options;
  options.directory = argumentValue(args, "--dir");
  if (args.contains(QLatin1String("--dir")) && !QFileInfo(options.directory).isDir()) {
    printLine(QStringLiteral(u"Нет каталога: %1").arg(options.directory));
    return false;
  }
  options.applyDirectory();
  return true;
}

// korvex --web-password [--dir DIR]: the password of the web pages, read
// from the standard input, goes into the service settings file as a hash.
int runWebPassword(int argc, char* argv[]) {
  QCoreApplication app(argc, argv);
  const QStringList args = QCoreApplication::arguments();
  if (!applyDirectoryOption(args)) return 2;
  char line[1024];
  if (!std::fgets(line, sizeof line, stdin)) {
    printLine(QStringLiteral(u"Пароль не прочитан со стандартного ввода"));
    return 2;
  }
  QByteArray password(line);
  while (password.endsWith('\n') || password.endsWith('\r')) password.chop(1);
  if (password.size() < 8) {
    printLine(QStringLiteral(u"Пароль короче 8 знаков"));
    return 2;
  }
  const QString hash = web::hashPassword(password);
  const QString path = publish::defaultServiceSettingsPath();
  QString error;
  if (hash.isEmpty() || !web::storePasswordHash(path, hash, &error)) {
    printLine(QStringLiteral(u"Пароль не записан: %1").arg(error));
    return 1;
  }
  printLine(QStringLiteral(u"Пароль веб-страниц записан в %1").arg(path));
  return 0;
}

// korvex --site --central CONNECTION [--dir DIR]: the pages of every analyzer
// of the central database; nothing is polled.
int runSite(int argc, char* argv[]) {
  QCoreApplication app(argc, argv);
  TerminationSignals termination;
  QCoreApplication::setApplicationName(QStringLiteral("korvex"));
  const QStringList args = QCoreApplication::arguments();
  const QString connection = argumentValue(args, "--central");
  if (connection.isEmpty()) {
    printLine(QStringLiteral(u"korvex --site --central СТРОКА_ПОДКЛЮЧЕНИЯ [--dir КАТАЛОГ]\n"
                             u"  страницы всех анализаторов центральной базы данных PostgreSQL; настройки [Web] из <программа>-service.ini"));
    return 2;
  }
  if (!applyDirectoryOption(args)) return 2;
  const auto say = [](const QString& text) {
    printLine(seams::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss ")) + text);
  };
  say(QStringLiteral(u"Площадка: центральная БД %1").arg(publish::describeConnection(connection)));
  web::WebService service;
  QObject::connect(&service, &web::WebService::message, &app, say);
  web::CentralLive live(connection, service.hub());
  QObject::connect(&live, &web::CentralLive::message, &app, say);
  if (!web::startFromSettings(service, publish::defaultServiceSettingsPath(),
                              std::make_unique<web::CentralHistory>(connection), say, true))
    return 1;
  live.start();
  QObject::connect(&termination, &TerminationSignals::received, &app, [&](int) {
    service.stop();
    say(QStringLiteral(u"Остановлено"));
    QCoreApplication::exit(0);
  });
  return QCoreApplication::exec();
}

int runVerify(int argc, char* argv[]) {
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("korvex"));
  return runVerify(QCoreApplication::arguments().mid(1));
}

// korvex --report-pdf --out FILE: the report's PDF for the web view, drawn
// without a display.
int runReportPdf(int argc, char* argv[]) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("korvex"));
  QFile input;
  if (!input.open(stdin, QIODevice::ReadOnly | QIODevice::Unbuffered)) return 2;
  return runReportPdf(QCoreApplication::arguments().mid(1), input);
}

}  // namespace

int main(int argc, char* argv[]) {
  if (hasArgument(argc, argv, "--version")) {
    std::puts("korvex " KORVEX_VERSION);
    return 0;
  }
  if (hasArgument(argc, argv, "--verify")) return runVerify(argc, argv);
  if (hasArgument(argc, argv, "--headless")) return runService(argc, argv, QStringLiteral("korvex --headless"));
  if (hasArgument(argc, argv, "--site")) return runSite(argc, argv);
  if (hasArgument(argc, argv, "--web-password")) return runWebPassword(argc, argv);
  if (hasArgument(argc, argv, "--report-pdf")) return runReportPdf(argc, argv);

  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("korvex"));
  const std::unique_ptr<QTranslator> qtTexts = installQtTranslations();
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
  // A shutdown or a logout ends the run as a close does, without a question.
  TerminationSignals ending;
  QObject::connect(&ending, &TerminationSignals::received, &window, &MainWindow::endBySystem);
  window.show();
  return app.exec();
}
