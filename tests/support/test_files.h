#pragma once
// Whole-file reads and writes for tests that look at the bytes on disk.

#include <QByteArray>
#include <QFile>
#include <QString>

namespace test_files {

// The file's bytes; empty when it cannot be read.
inline QByteArray readAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Replaces the file with `bytes`; false when that failed.
inline bool writeAll(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

}  // namespace test_files
