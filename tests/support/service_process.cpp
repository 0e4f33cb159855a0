#include "support/service_process.h"

#include "support/sim_process.h"

ServiceProcess::ServiceProcess(QString program) : program_(std::move(program)) {
  // What it prints goes to stderr; stdout is let through for a failing test's log.
  process_.setProcessChannelMode(QProcess::ForwardedOutputChannel);
  // Dates and numbers as the tests' own Russian locale writes them.
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("LC_ALL"), QStringLiteral("ru_RU.UTF-8"));
  env.insert(QStringLiteral("LANG"), QStringLiteral("ru_RU.UTF-8"));
  process_.setProcessEnvironment(env);
}

ServiceProcess::~ServiceProcess() { kill(); }

bool ServiceProcess::start(const QStringList& args) {
  process_.start(program_, QStringList{QStringLiteral("--headless")} + args);
  return process_.waitForStarted(10000);
}

void ServiceProcess::pump() {
  partial_ += process_.readAllStandardError();
  for (qsizetype at; (at = partial_.indexOf('\n')) >= 0;) {
    lines_ << QString::fromUtf8(partial_.left(at));
    partial_.remove(0, at + 1);
  }
}

QStringList ServiceProcess::lines() {
  pump();
  return lines_;
}

int ServiceProcess::count(const QRegularExpression& pattern) {
  pump();
  int n = 0;
  for (const QString& l : lines_)
    if (pattern.match(l).hasMatch()) ++n;
  return n;
}

bool ServiceProcess::waitForLines(const QRegularExpression& pattern, int count, int timeoutMs) {
  return SimProcess::waitFor([&] { return this->count(pattern) >= count || !isRunning(); }, timeoutMs) &&
         this->count(pattern) >= count;
}

bool ServiceProcess::terminate(int timeoutMs) {
  if (!isRunning()) return true;
  process_.terminate();
  const bool ended = SimProcess::waitFor([&] { return !isRunning(); }, timeoutMs);
  pump();
  return ended;
}

void ServiceProcess::kill() {
  if (!isRunning()) return;
  process_.kill();
  process_.waitForFinished(5000);
  pump();
}
