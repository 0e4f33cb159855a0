#include "app/headless_service.h"

#include <QDir>
#include <QFileInfo>
#include <cstdio>

#include "app/session.h"
#include "data/value_format.h"
#include "platform/seams.h"
#include "platform/timer.h"
#include "storage/settings_records.h"

ModeRequest modeFromName(const QString& name, bool* ok) {
  *ok = true;
  const QString n = name.toLower();
  if (n == QLatin1String("continuous")) return ModeRequest::Continuous;
  if (n == QLatin1String("single")) return ModeRequest::Single;
  if (n == QLatin1String("cyclic")) return ModeRequest::Cyclic;
  if (n == QLatin1String("none")) return ModeRequest::None;
  *ok = false;
  return ModeRequest::None;
}

QString HeadlessOptions::usage() {
  return QStringLiteral(u"korvex --headless [--mode continuous|single|cyclic|none] [--dir КАТАЛОГ] [--port ПОРТ] [--verbose]\n"
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

HeadlessService::HeadlessService(Session& session, HeadlessOptions options, std::function<void(const QString&)> print,
                                 QObject* parent)
    : QObject(parent),
      session_(session),
      options_(std::move(options)),
      print_(std::move(print)),
      publishing_(session),
      web_(session),
      audit_(session) {
  if (!print_) {
    print_ = [](const QString& line) {
      std::fputs((line + QLatin1Char('\n')).toUtf8().constData(), stderr);
      std::fflush(stderr);
    };
  }
  options_.applyDirectory();

  connect(&session_, &Session::eventLogged, this, &HeadlessService::say);
  connect(&session_, &Session::databaseProblem, this,
          [this](Session::DatabaseProblem problem, const QString& detail) {
            say(Session::problemText(problem, detail));
          });
  connect(&session_, &Session::portOpenFailed, this,
          [this](PortOpenResult result, const QString& name, const QString& reason) {
    const QString port = reason.isEmpty() ? name : QStringLiteral("%1 (%2)").arg(name, reason);
    switch (result) {
      case PortOpenResult::CannotOpen: say(QStringLiteral(u"Не могу открыть порт: ") + port); break;
      case PortOpenResult::CannotGetStatus: say(QStringLiteral(u"Не могу получить статус порта: ") + port); break;
      case PortOpenResult::CannotInitialize: say(QStringLiteral(u"Не могу инициализировать порт: ") + port); break;
      case PortOpenResult::Opened:
      case PortOpenResult::Connecting: break;
    }
  });
  connect(&session_, &Session::emissionSettingsProblem, this, &HeadlessService::say);
  connect(&session_, &Session::settingsSaveFailed, this,
          [this] { say(QStringLiteral(u"Ошибка записи файлов конфигурации")); });
  connect(&session_, &Session::resultsWriteFailed, this,
          [this] { say(QStringLiteral(u"Ошибка записи данных: суточный журнал будет записан позже")); });
  connect(&session_, &Session::resultRecorded, this, [this](qint64 seq, const Result& r) {
    if (!options_.verbose) return;
    QStringList cells = resultCells(r.values, r.faultBits, r.localDateTime(), int(seq));
    say(QStringLiteral(u"Результат ") + cells.join(QLatin1Char(' ')));
  });
  connect(&publishing_, &Publishing::message, this, &HeadlessService::say);
  connect(&web_, &WebView::message, this, &HeadlessService::say);
  connect(&audit_, &AuditKeeper::trailBroken, this, &HeadlessService::say);
  connect(&audit_, &AuditKeeper::problem, this, &HeadlessService::say);
  connect(&publishing_, &Publishing::stateChanged, this, [this] {
    const QString state = publishing_.stateText();
    if (state == publishingState_) return;
    publishingState_ = state;
    if (!state.isEmpty()) say(QStringLiteral(u"Публикация: ") + state);
  });
  PollCycle& poll = session_.pollCycle();
  connect(&poll, &PollCycle::analyzerReady, this, &HeadlessService::onAnalyzerReady);
  connect(&poll, &PollCycle::modeFinished, this, [this] { singleDone_ = true; });
}

void HeadlessService::say(const QString& text) {
  QString line = text;
  line.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
  print_(seams::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss ")) + line);
}

void HeadlessService::start() {
  say(QStringLiteral(u"Запуск: ") + seams::executablePath());
  if (!session_.loadSettings()) {
    say(QStringLiteral(u"Файл конфигурации отсутствует! Сброс конфигурации!"));
    session_.resetSettings();
  }
  if (!options_.port.isEmpty() && !setShortString(programSettings.portName, options_.port))
    say(QStringLiteral(u"Имя порта длиннее 30 знаков: %1").arg(options_.port));
  session_.openDatabase();
  audit_.open(QStringLiteral(u"служба"));
  session_.openPort();
  session_.start();
  audit_.sealDays();
  publishing_.setAuditTrail(&audit_.trail());
  publishing_.start();
  web_.start();
  if (!options_.modeGiven) {
    bool ok = false;
    options_.mode = modeFromName(publishing_.settings().mode, &ok);
  }
}

void HeadlessService::onAnalyzerReady() {
  // The mode asked for comes back after a stop the program did not ask for
  // (start-up, the analyzer lost and found); a single measurement runs once.
  if (stopped_ || options_.mode == ModeRequest::None) return;
  if (options_.mode == ModeRequest::Single && singleDone_) return;
  session_.pollCycle().requestMode(options_.mode);
}

void HeadlessService::stop() {
  if (stopped_) return;
  stopped_ = true;
  session_.pollTimer()->setEnabled(false);
  web_.stop();
  publishing_.stop();
  session_.sendStop();
  audit_.stop();
  session_.finish();
  say(QStringLiteral(u"Остановлено"));
}
