#include "service/headless_service.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <cstdio>

#include "data/value_format.h"
#include "platform/qt_translations.h"
#include "platform/seams.h"
#include "service/termination_signals.h"

namespace {

SessionHost::Options hostOptions(const HeadlessOptions& o, SessionHost::Threading threading) {
  SessionHost::Options h;
  h.threading = threading;
  h.port = o.port;
  h.mode = o.mode;
  h.modeGiven = o.modeGiven;
  h.modeFromServiceSettings = true;
  h.runAs = QStringLiteral(u"служба");
  return h;
}

}  // namespace

QString HeadlessOptions::usage(const QString& command) {
  return command +
         QStringLiteral(u" [--mode continuous|single|cyclic|none] [--dir КАТАЛОГ] [--port ПОРТ] [--verbose]\n"
                        u"  --mode     режим измерения после запуска (по умолчанию continuous)\n"
                        u"  --dir      каталог настроек, базы данных и журналов (по умолчанию каталог программы)\n"
                        u"  --port     порт на этот запуск вместо заданного в настройках (COM3, /dev/ttyUSB0, tcp://адрес:порт)\n"
                        u"  --verbose  строка на каждый результат");
}

bool HeadlessOptions::parse(const QStringList& arguments, HeadlessOptions* options, QString* error) {
  for (int i = 0; i < arguments.size(); ++i) {
    const QString& a = arguments[i];
    const auto value = [&](QString* into) {
      if (i + 1 >= arguments.size() || arguments[i + 1].startsWith(QLatin1String("--"))) {
        *error = QStringLiteral(u"Не задано значение %1").arg(a);
        return false;
      }
      *into = arguments[++i];
      return true;
    };
    if (a == QLatin1String("--headless")) continue;
    if (a == QLatin1String("--verbose")) {
      options->verbose = true;
    } else if (a == QLatin1String("--mode")) {
      QString name;
      if (!value(&name)) return false;
      bool ok = false;
      options->mode = modeFromName(name, &ok);
      options->modeGiven = true;
      if (!ok) {
        *error = QStringLiteral(u"Неизвестный режим: %1").arg(name);
        return false;
      }
    } else if (a == QLatin1String("--port")) {
      if (!value(&options->port)) return false;
    } else if (a == QLatin1String("--dir")) {
      if (!value(&options->directory)) return false;
      if (!QFileInfo(options->directory).isDir()) {
        *error = QStringLiteral(u"Нет каталога: %1").arg(options->directory);
        return false;
      }
    } else {
      *error = QStringLiteral(u"Неизвестный параметр: %1").arg(a);
      return false;
    }
  }
  return true;
}

void HeadlessOptions::applyDirectory() const {
  if (directory.isEmpty()) return;
  const QString name = QFileInfo(seams::executablePath()).fileName();
  seams::setExecutablePath(QDir(directory).absoluteFilePath(name));
}

HeadlessService::HeadlessService(HeadlessOptions options, std::function<void(const QString&)> print,
                                 SessionHost::Threading threading, QObject* parent)
    : QObject(parent),
      options_((options.applyDirectory(), std::move(options))),
      print_(std::move(print)),
      host_(hostOptions(options_, threading)) {
  if (!print_) {
    print_ = [](const QString& line) {
      std::fputs((line + QLatin1Char('\n')).toUtf8().constData(), stderr);
      std::fflush(stderr);
    };
  }
  Session* session = host_.session();
  web_ = std::make_unique<WebView>(*session);
  connect(web_.get(), &WebView::message, this, &HeadlessService::say);
  connect(&host_.notices(), &NoticeBoard::added, this, [this](const Notice& n) { say(n.line()); });
  listenTo(session, QString());
  // Every analyzer of the line: its events and results say whose they are.
  connect(&host_, &SessionHost::analyzersAdded, this, [this, session] {
    for (int i = 1; i < session->analyzerCount(); ++i) {
      Session* other = session->analyzer(i);
      listenTo(other, other->analyzerTitle() + QStringLiteral(": "));
    }
  });
  connect(session, &Session::publishingChanged, this, [this](const QString& state) {
    if (state == publishingState_) return;
    publishingState_ = state;
    if (!state.isEmpty()) say(QStringLiteral(u"Публикация: ") + state);
  });
}

HeadlessService::~HeadlessService() { stop(); }

void HeadlessService::listenTo(Session* session, const QString& whose) {
  connect(session, &Session::eventLogged, this, [this, whose](const QString& text) { say(whose + text); });
  connect(session, &Session::resultRecorded, this, [this, whose](qint64 seq, const Result& r) {
    if (!options_.verbose) return;
    QStringList cells = resultCells(r.values, r.faultBits, r.localDateTime(), int(seq));
    say(whose + QStringLiteral(u"Результат ") + cells.join(QLatin1Char(' ')));
  });
}

void HeadlessService::say(const QString& text) {
  QString line = text;
  line.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
  print_(seams::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss ")) + line);
}

void HeadlessService::start() {
  say(QStringLiteral(u"Запуск: ") + seams::executablePath());
  host_.start();
  web_->start();
}

void HeadlessService::stop() {
  if (stopped_) return;
  stopped_ = true;
  web_->stop();
  host_.stop();
  say(QStringLiteral(u"Остановлено"));
}

int runService(int argc, char* argv[], const QString& command, const QString& programName) {
  // No display, no widgets: a plain core application.
  QCoreApplication app(argc, argv);
  if (!programName.isEmpty())
    seams::setExecutablePath(
        QDir(QFileInfo(QCoreApplication::applicationFilePath()).absolutePath()).filePath(programName));
  // First of all: a SIGTERM from now on waits for the event loop instead of
  // ending the service in the middle of its start.
  TerminationSignals termination;
  QCoreApplication::setApplicationName(QStringLiteral("korvex"));
  const std::unique_ptr<QTranslator> qtTexts = installQtTranslations();
  HeadlessOptions options;
  QString error;
  if (!HeadlessOptions::parse(QCoreApplication::arguments().mid(1), &options, &error)) {
    std::fputs((error + QLatin1Char('\n') + HeadlessOptions::usage(command) + QLatin1Char('\n')).toUtf8().constData(),
               stderr);
    return 2;
  }
  HeadlessService service(options);
  QObject::connect(&termination, &TerminationSignals::received, &app, [&](int) {
    service.stop();
    QCoreApplication::exit(0);
  });
  service.start();
  return QCoreApplication::exec();
}
