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
  // The line's database, then each further analyzer's that is there (also
  // one whose analyzer was taken off the line: its days stay sealed).
  const QString db = changeFileExt(seams::executablePath(), QStringLiteral(".db"));
  QStringList others;
  for (int slot = 2; slot <= 8; ++slot) {
    const QString path = changeFileExt(seams::executablePath(), QStringLiteral("-%1.db").arg(slot));
    if (QFileInfo::exists(path)) others << path;
  }
  int worst = 0;
  const auto checkOne = [&](const QString& path, const QString& head) {
    const TrailCheck check = checkTrail(path, TrailCheckScope());
    print(head + check.line);
    const int code = check.status == TrailCheck::Status::Whole ? 0 : check.status == TrailCheck::Status::Broken ? 1 : 2;
    // Unreadable (2) outweighs broken (1) only where nothing was found broken.
    if (code == 1 || (code == 2 && worst == 0)) worst = code;
  };
  if (others.isEmpty()) {
    checkOne(db, QString());
    return worst;
  }
  for (const QString& path : QStringList{db} + others) checkOne(path, QFileInfo(path).fileName() + QStringLiteral(": "));
  return worst;
}
