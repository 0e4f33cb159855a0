// The simulator's --settings option: it prepares the program's two settings
// files so that the program starts connected to it without a message box.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QToolButton>

#include "e2e/sim_fixture.h"
#include "storage/settings_files.h"

namespace {

class SimulatorSettingsE2E : public SimFixture {
 protected:
  QByteArray fileBytes(const QString& name) const {
    QFile f(inDir(name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }
  // Both records as the files hold them.
  void loadFiles() {
    files_ = SettingsFiles();
    ASSERT_TRUE(files_.load());
  }
  SettingsFiles files_;
  ProgramSettings& programSettings() { return files_.programRecord(); }
  DeviceRecord& deviceFile() { return files_.deviceRecord(); }
};

TEST_F(SimulatorSettingsE2E, InAnEmptyDirectoryBothFilesAreMadeAndTheProgramStartsConnected) {
  startSim({QStringLiteral("--settings"), exePath_, QStringLiteral("--address"), QStringLiteral("7")});
  EXPECT_EQ(fileBytes(QStringLiteral("korvex.ini")).size(), 237);
  EXPECT_EQ(fileBytes(QStringLiteral("Device-001.ini")).size(), 239);

  startProgram();
  EXPECT_TRUE(takeMessages().empty());
  EXPECT_TRUE(takeNotices().empty());
  EXPECT_EQ(shortStringText(programRecord().portName), sim_->portPath());
  EXPECT_EQ(+programRecord().netAddress, 7);
  ASSERT_TRUE(session().link().isOpen());
  ASSERT_TRUE(ticksUntil([this] { return poll().workMode() == WorkMode::Idle && find<QToolButton>("BitBtnOdnokr")->isEnabled(); }, 10));
  runTick();
  EXPECT_TRUE(window().windowTitle().startsWith(QStringLiteral(u"Korvex адр:7 обслуживание 15.3.2025")));
}

TEST_F(SimulatorSettingsE2E, ExistingSettingsKeepEverythingButThePortAndTheAddress) {
  writeDefaultSettings(QStringLiteral("COM4"));
  loadFiles();
  programSettings().refreshPeriod = 33;
  deviceFile().cyclePeriod[0] = 17;
  ASSERT_TRUE(files_.save());
  const QByteArray device = fileBytes(QStringLiteral("Device-001.ini"));

  startSim({QStringLiteral("--settings"), exePath_});
  EXPECT_EQ(fileBytes(QStringLiteral("Device-001.ini")), device);
  loadFiles();
  EXPECT_EQ(shortStringText(programSettings().portName), sim_->portPath());
  EXPECT_EQ(int32_t(programSettings().refreshPeriod), 33);
  EXPECT_EQ(+programSettings().netAddress, 1);
}

TEST_F(SimulatorSettingsE2E, AMissingProgramFileGetsDefaultsAndTheDeviceFileIsKept) {
  writeDefaultSettings(QStringLiteral("COM4"));
  loadFiles();
  deviceFile().cyclePeriod[0] = 17;
  ASSERT_TRUE(files_.save());
  const QByteArray device = fileBytes(QStringLiteral("Device-001.ini"));
  ASSERT_TRUE(QFile::remove(inDir(QStringLiteral("korvex.ini"))));

  startSim({QStringLiteral("--settings"), exePath_});
  EXPECT_EQ(fileBytes(QStringLiteral("Device-001.ini")), device);
  loadFiles();
  EXPECT_EQ(shortStringText(programSettings().portName), sim_->portPath());
  EXPECT_EQ(int32_t(programSettings().refreshPeriod), 10);  // the default
}

TEST_F(SimulatorSettingsE2E, AMissingDeviceFileGetsDefaults) {
  writeDefaultSettings(QStringLiteral("COM4"));
  ASSERT_TRUE(QFile::remove(inDir(QStringLiteral("Device-001.ini"))));
  startSim({QStringLiteral("--settings"), exePath_});
  EXPECT_EQ(fileBytes(QStringLiteral("Device-001.ini")).size(), 239);
  loadFiles();
  EXPECT_EQ(int32_t(deviceFile().cyclePeriod[0]), 30);
}

TEST_F(SimulatorSettingsE2E, APortNameLongerThanTheFileHoldsIsRefusedAndNothingIsWritten) {
  ASSERT_STRNE(KORVEX_SIM_PATH, "");
  SimProcess sim(QStringLiteral(KORVEX_SIM_PATH));
  EXPECT_FALSE(sim.start({QStringLiteral("--settings"), exePath_, QStringLiteral("--port-name"),
                          QStringLiteral("/dev/serial/by-id/usb-FTDI-0123456789")}));
  EXPECT_TRUE(SimProcess::waitFor([&] { return !sim.isRunning(); }, 5000));
  EXPECT_TRUE(sim.errorOutput().contains(QStringLiteral("30 characters")));
  EXPECT_FALSE(QFile::exists(inDir(QStringLiteral("korvex.ini"))));
}

TEST_F(SimulatorSettingsE2E, TheLinkLeadsToThePortAndGoesAwayWithTheSimulator) {
  const QString link = QStringLiteral("/tmp/kvx-e2e-%1").arg(QCoreApplication::applicationPid());
  startSim({QStringLiteral("--link"), link, QStringLiteral("--settings"), exePath_});
  EXPECT_EQ(QFile::symLinkTarget(link), sim_->portPath());
  startProgram();
  EXPECT_TRUE(takeMessages().empty());
  EXPECT_EQ(shortStringText(programRecord().portName), link);
  ASSERT_TRUE(ticksUntil([this] { return poll().workMode() == WorkMode::Idle; }, 10));
  stopProgram();
  sim_->stop();
  EXPECT_FALSE(QFileInfo(link).isSymLink());
}

}  // namespace
