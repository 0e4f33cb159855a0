#include "support/sim_process.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTest>

SimProcess::SimProcess(QString program) : program_(std::move(program)) {
  process_.setProcessChannelMode(QProcess::SeparateChannels);
}

SimProcess::~SimProcess() { stop(); }

bool SimProcess::waitFor(const std::function<bool()>& condition, int timeoutMs) {
  return QTest::qWaitFor(condition, timeoutMs);
}

void SimProcess::pump() {
  partial_ += process_.readAllStandardOutput();
  for (qsizetype at; (at = partial_.indexOf('\n')) >= 0;) {
    lines_ << QString::fromUtf8(partial_.left(at)).trimmed();
    partial_.remove(0, at + 1);
  }
}

QStringList SimProcess::lines() {
  pump();
  return lines_;
}

int SimProcess::count(const QRegularExpression& pattern) {
  // Events reach us through the output pipe, replies through the serial line:
  // a status round trip makes sure every event printed so far has arrived.
  if (isRunning()) status();
  pump();
  int n = 0;
  for (const QString& l : lines_)
    if (pattern.match(l).hasMatch()) ++n;
  return n;
}

bool SimProcess::start(const QStringList& args, int timeoutMs) {
  process_.start(program_, args);
  if (!process_.waitForStarted(timeoutMs)) return false;
  // Ready, or ended (a bad option, a port it cannot open).
  waitFor(
      [&] {
        pump();
        return lines_.contains(QStringLiteral("READY")) || !isRunning();
      },
      timeoutMs);
  pump();
  if (!lines_.contains(QStringLiteral("READY"))) return false;
  for (const QString& l : lines_) {
    if (l.startsWith(QLatin1String("PORT "))) port_ = l.mid(5);
    if (l.startsWith(QLatin1String("TCP "))) {
      const qsizetype colon = l.lastIndexOf(QLatin1Char(':'));
      tcpHost_ = l.mid(4, colon - 4);
      tcpPort_ = l.mid(colon + 1).toUShort();
    }
  }
  return !port_.isEmpty();
}

bool SimProcess::waitForLine(const QRegularExpression& pattern, int from, int timeoutMs) {
  if (timeoutMs == 0 && isRunning()) status();  // "has it happened yet?": sync first
  return waitFor(
      [&] {
        pump();
        for (qsizetype i = from; i < lines_.size(); ++i)
          if (pattern.match(lines_[i]).hasMatch()) return true;
        return false;
      },
      timeoutMs);
}

bool SimProcess::command(const QString& line, int timeoutMs) {
  if (!isRunning()) return false;
  pump();
  const qsizetype from = lines_.size();
  process_.write((line + QLatin1Char('\n')).toUtf8());
  // Events of the simulator may come before the answer; the answer repeats
  // the command after "OK ".
  const QString ok = QStringLiteral("OK ") + line;
  qsizetype answer = -1;
  waitFor(
      [&] {
        pump();
        for (qsizetype i = from; i < lines_.size(); ++i) {
          const QString& l = lines_[i];
          if (l == ok || l.startsWith(QLatin1String("ERROR ")) ||
              (line == QLatin1String("status") && l.startsWith(QLatin1String("STATUS ")))) {
            answer = i;
            return true;
          }
        }
        return !isRunning();
      },
      timeoutMs);
  return answer >= 0 && !lines_[answer].startsWith(QLatin1String("ERROR "));
}

QString SimProcess::status(int timeoutMs) {
  if (!command(QStringLiteral("status"), timeoutMs)) return {};
  for (qsizetype i = lines_.size() - 1; i >= 0; --i)
    if (lines_[i].startsWith(QLatin1String("STATUS "))) return lines_[i];
  return {};
}

void SimProcess::kill() {
  if (!isRunning()) return;
  process_.kill();
  process_.waitForFinished(5000);
}

void SimProcess::stop(int timeoutMs) {
  if (!isRunning()) return;
  process_.write("quit\n");
  if (!process_.waitForFinished(timeoutMs)) kill();
}

QString SimProcess::errorOutput() { return QString::fromUtf8(process_.readAllStandardError()); }
