#pragma once
// A benchmark's working folder: a new one under KORVEX_BENCH_DIR, or beside
// the program (on the disk the program's own files will be on), removed at
// the end. Null, with the reason on stderr, when it cannot be made.

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <cstdio>
#include <memory>

inline std::unique_ptr<QTemporaryDir> makeBenchDir(const char* name) {
  QString base = qEnvironmentVariable("KORVEX_BENCH_DIR");
  if (base.isEmpty()) base = QCoreApplication::applicationDirPath();
  auto dir = std::make_unique<QTemporaryDir>(QDir(base).filePath(QLatin1String(name) + QStringLiteral("-XXXXXX")));
  if (dir->isValid()) return dir;
  std::fprintf(stderr, "cannot make a folder in %s\n", qPrintable(base));
  return nullptr;
}
