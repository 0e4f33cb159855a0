#include "app/verify_command.h"

#include <QDir>
#include <QFileInfo>
#include <cstdio>

#include "data/trail_check.h"
#include "platform/seams.h"
#include "storage/settings_files.h"

namespace {

void toStream(FILE* stream, const QString& line) {
  std::fputs((line + QLatin1Char('\n')).toUtf8().constData(), stream);
  std::fflush(stream);
}

}  // namespace

int runVerify(const QStringList& arguments, const std::function<void(const QString&)>& printLine,
              const std::function<void(const QString&)>& warnLine) {
  const auto print = printLine ? printLine : [](const QString& l) { toStream(stdout, l); };
  const auto warn = warnLine ? warnLine : [](const QString& l) { toStream(stderr, l); };
  const QString usage = QStringLiteral(u"korvex --verify [--dir КАТАЛОГ]\n"
                                       u"  проверяет журнал аудита и опечатанные дни базы данных результатов");
  QString directory;
  for (int i = 0; i < arguments.size(); ++i) {
    const QString& a = arguments[i];
    if (a == QLatin1String("--verify")) continue;
    if (a == QLatin1String("--dir") && i + 1 < arguments.size()) {
      directory = arguments[++i];
      if (!QFileInfo(directory).isDir()) {
        warn(QStringLiteral(u"Нет каталога: %1").arg(directory));
        return 2;
      }
      continue;
    }
    warn(QStringLiteral(u"Неизвестный параметр: %1\n%2").arg(a, usage));
    return 2;
  }
  if (!directory.isEmpty())
    seams::setExecutablePath(QDir(directory).absoluteFilePath(QFileInfo(seams::executablePath()).fileName()));
  const QString db = changeFileExt(seams::executablePath(), QStringLiteral(".db"));
  const TrailCheck check = checkTrail(db, TrailCheckScope());
  print(check.line);
  switch (check.status) {
    case TrailCheck::Status::Whole: return 0;
    case TrailCheck::Status::Broken: return 1;
    case TrailCheck::Status::Unreadable: return 2;
  }
  return 2;
}
