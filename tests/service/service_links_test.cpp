// The measuring service is a program of its own that links no widget,
// printing or chart library: all it loads, by ldd, is Qt Core, its network
// and serial port, SQLite, libmosquitto and libpq with what they need.

#include <gtest/gtest.h>

#include <QProcess>
#include <QRegularExpression>
#include <QStringList>

#ifndef KORVEX_SERVICE_PATH
#define KORVEX_SERVICE_PATH ""
#endif

namespace {

QStringList loadedLibraries(const QString& program) {
  QProcess ldd;
  ldd.start(QStringLiteral("ldd"), {program});
  if (!ldd.waitForFinished(30000) || ldd.exitCode() != 0) {
    ADD_FAILURE() << "ldd " << program.toStdString() << ": " << ldd.readAllStandardError().toStdString();
    return {};
  }
  QStringList names;
  for (const QString& line : QString::fromLocal8Bit(ldd.readAllStandardOutput()).split(QLatin1Char('\n'))) {
    const QString name = line.trimmed().section(QLatin1Char(' '), 0, 0);
    if (!name.isEmpty()) names << name;
  }
  return names;
}

TEST(ServiceLinks, KorvexdLoadsNoWidgetGuiPrintOrChartLibrary) {
  const QString program = QStringLiteral(KORVEX_SERVICE_PATH);
  ASSERT_FALSE(program.isEmpty());
  const QStringList libraries = loadedLibraries(program);
  ASSERT_TRUE(libraries.contains(QStringLiteral("libQt6Core.so.6"))) << libraries.join(' ').toStdString();
  ASSERT_TRUE(libraries.contains(QStringLiteral("libsqlite3.so.0")));
  const QRegularExpression window(QStringLiteral("Qt6(Widgets|Gui|PrintSupport|OpenGL|XcbQpa)|qcustomplot|libX11|libxcb"),
                                  QRegularExpression::CaseInsensitiveOption);
  for (const QString& library : libraries) EXPECT_FALSE(window.match(library).hasMatch()) << library.toStdString();
}

// The package's scripts and the operator ask the service its version.
TEST(ServiceLinks, KorvexdAnswersVersionWithoutStarting) {
  QProcess service;
  service.start(QStringLiteral(KORVEX_SERVICE_PATH), {QStringLiteral("--version")});
  ASSERT_TRUE(service.waitForFinished(30000));
  EXPECT_EQ(service.exitCode(), 0);
  EXPECT_TRUE(QRegularExpression(QStringLiteral("^korvexd \\d+\\.\\d+(\\.\\d+)?\n$"))
                  .match(QString::fromUtf8(service.readAllStandardOutput()))
                  .hasMatch());
}

}  // namespace
