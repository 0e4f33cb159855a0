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
  QByteArray FileBytes(const QString& name) const {
    QFile f(InDir(name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }
  // Both records as the files hold them.
  void LoadFiles() {
    ProgramSettings = TProgramSettings{};
    DeviceRecord = TDeviceRecord{};
    ASSERT_TRUE(SettingsLoad());
  }
};

TEST_F(SimulatorSettingsE2E, InAnEmptyDirectoryBothFilesAreMadeAndTheProgramStartsConnected) {
  StartSim({QStringLiteral("--settings"), exePath_, QStringLiteral("--address"), QStringLiteral("7")});
  EXPECT_EQ(FileBytes(QStringLiteral("korvex.ini")).size(), 237);
  EXPECT_EQ(FileBytes(QStringLiteral("Device-001.ini")).size(), 239);

  StartProgram();
  EXPECT_TRUE(TakeMessages().empty());
  EXPECT_EQ(ShortStringText(ProgramSettings.PortName), sim_->PortPath());
  EXPECT_EQ(+ProgramSettings.NetAddress, 7);
  ASSERT_TRUE(Form1->ComPort->IsOpen());
  ASSERT_TRUE(TicksUntil([] { return DeviceRecord.WorkMode == 0 && Form1->BitBtnOdnokr->isEnabled(); }, 10));
  RunTick();
  EXPECT_TRUE(Form1->windowTitle().startsWith(QStringLiteral(u"Korvex адр:7 обслуживание 15.3.2025")));
}

TEST_F(SimulatorSettingsE2E, ExistingSettingsKeepEverythingButThePortAndTheAddress) {
  WriteDefaultSettings(QStringLiteral("COM4"));
  LoadFiles();
  ProgramSettings.RefreshPeriod = 33;
  DeviceRecord.CyclePeriod[0] = 17;
  ASSERT_TRUE(SettingsSave());
  const QByteArray device = FileBytes(QStringLiteral("Device-001.ini"));

  StartSim({QStringLiteral("--settings"), exePath_});
  EXPECT_EQ(FileBytes(QStringLiteral("Device-001.ini")), device);
  LoadFiles();
  EXPECT_EQ(ShortStringText(ProgramSettings.PortName), sim_->PortPath());
  EXPECT_EQ(int32_t(ProgramSettings.RefreshPeriod), 33);
  EXPECT_EQ(+ProgramSettings.NetAddress, 1);
}

TEST_F(SimulatorSettingsE2E, AMissingProgramFileGetsDefaultsAndTheDeviceFileIsKept) {
  WriteDefaultSettings(QStringLiteral("COM4"));
  LoadFiles();
  DeviceRecord.CyclePeriod[0] = 17;
  ASSERT_TRUE(SettingsSave());
  const QByteArray device = FileBytes(QStringLiteral("Device-001.ini"));
  ASSERT_TRUE(QFile::remove(InDir(QStringLiteral("korvex.ini"))));

  StartSim({QStringLiteral("--settings"), exePath_});
  EXPECT_EQ(FileBytes(QStringLiteral("Device-001.ini")), device);
  LoadFiles();
  EXPECT_EQ(ShortStringText(ProgramSettings.PortName), sim_->PortPath());
  EXPECT_EQ(int32_t(ProgramSettings.RefreshPeriod), 10);  // the default
}

TEST_F(SimulatorSettingsE2E, AMissingDeviceFileGetsDefaults) {
  WriteDefaultSettings(QStringLiteral("COM4"));
  ASSERT_TRUE(QFile::remove(InDir(QStringLiteral("Device-001.ini"))));
  StartSim({QStringLiteral("--settings"), exePath_});
  EXPECT_EQ(FileBytes(QStringLiteral("Device-001.ini")).size(), 239);
  LoadFiles();
  EXPECT_EQ(int32_t(DeviceRecord.CyclePeriod[0]), 30);
}

TEST_F(SimulatorSettingsE2E, APortNameLongerThanTheFileHoldsIsRefusedAndNothingIsWritten) {
  ASSERT_STRNE(KORVEX_SIM_PATH, "");
  SimProcess sim(QStringLiteral(KORVEX_SIM_PATH));
  EXPECT_FALSE(sim.Start({QStringLiteral("--settings"), exePath_, QStringLiteral("--port-name"),
                          QStringLiteral("/dev/serial/by-id/usb-FTDI-0123456789")}));
  EXPECT_TRUE(SimProcess::WaitFor([&] { return !sim.Running(); }, 5000));
  EXPECT_TRUE(sim.ErrorOutput().contains(QStringLiteral("30 characters")));
  EXPECT_FALSE(QFile::exists(InDir(QStringLiteral("korvex.ini"))));
}

TEST_F(SimulatorSettingsE2E, TheLinkLeadsToThePortAndGoesAwayWithTheSimulator) {
  const QString link = QStringLiteral("/tmp/kvx-e2e-%1").arg(QCoreApplication::applicationPid());
  StartSim({QStringLiteral("--link"), link, QStringLiteral("--settings"), exePath_});
  EXPECT_EQ(QFile::symLinkTarget(link), sim_->PortPath());
  StartProgram();
  EXPECT_TRUE(TakeMessages().empty());
  EXPECT_EQ(ShortStringText(ProgramSettings.PortName), link);
  ASSERT_TRUE(TicksUntil([] { return DeviceRecord.WorkMode == 0; }, 10));
  DestroyForms();
  sim_->Stop();
  EXPECT_FALSE(QFileInfo(link).isSymLink());
}

}  // namespace
