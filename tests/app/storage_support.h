#pragma once
// Shared by the tests of the window's files that run the main window: results put straight
// into the table as the poll cycle would, file helpers, and the two texts the
// operator sees when a file cannot be written or read.

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QString>

#include "storage/settings_records.h"
#include "support/korvex_fixture.h"

#include "support/test_files.h"

namespace storage_test {

inline const QString kWriteError =
    QStringLiteral(u"Ошибка записи данных!\r\nЗакройте лишние приложения или перезагрузите компьютер!");
inline const QString kReadError =
    QStringLiteral(u"Файл слишком велик, заблокирован\r\nили содержит ошибки формата!");

using test_files::readAll;
using test_files::writeAll;

// A plausible measurement; `tg` tells the results apart.
inline Measurement sample(double tg) {
  using namespace channel;
  Measurement m;
  m[Tg] = tg;
  m[Ta] = 24;
  m[O2] = 6.1;
  m[CO] = 42;
  m[NO] = 118;
  m[NO2] = 3;
  m[CO2] = 10.95;
  m[NOx] = 121;
  m[Qa] = 8.72;
  m[Alf] = 1.41;
  return m;
}

// The program with default settings, started at the fixture's clock.
class StorageFixture : public KorvexFixture {
 protected:
  void SetUp() override {
    KorvexFixture::SetUp();
    if (!exeName_.isEmpty()) {
      exePath_ = inDir(exeName_);
      seams::setExecutablePath(exePath_);
    }
    writeDefaultSettings();
    startProgram();
    takeMessages();
  }

  using KorvexFixture::addResult;
  void addResult(double tg) { addResult(sample(tg)); }

  // Every row of the table as its 16 cells joined by TABs, the headings first.
  QStringList rowTexts() const {
    QStringList rows;
    for (int r = 0; r < gridRows(); ++r) {
      QStringList cells;
      for (int c = 0; c < 16; ++c) cells << cell(c, r);
      rows << cells.join(QLatin1Char('\t'));
    }
    return rows;
  }

  // Answers the next file dialog with `path`.
  void chooseFile(const QString& path) {
    fileDialog_ = [path](const seams::FileDialogRequest&) { return path; };
  }

  QString exeName_;  // set before SetUp to run the program under another name
};

}  // namespace storage_test
