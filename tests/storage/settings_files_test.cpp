#include "storage/settings_files.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <csignal>
#include <cstring>

#include "app/platform_seams.h"
#include "support/test_files.h"
#include "storage/text_codec.h"

namespace {

using test_files::ReadAll;
using test_files::WriteAll;

void PutU32(QByteArray& b, int at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = char((v >> (8 * i)) & 0xFF);
}

void PutDouble(QByteArray& b, int at, double v) {
  uint64_t bits;
  std::memcpy(&bits, &v, 8);
  for (int i = 0; i < 8; ++i) b[at + i] = char((bits >> (8 * i)) & 0xFF);
}

void PutShortString(QByteArray& b, int at, const QByteArray& text) {
  b[at] = char(text.size());
  for (int i = 0; i < text.size(); ++i) b[at + 1 + i] = text[i];
}

// Byte images as written by hand from the record layout.
QByteArray DefaultSettingsImage() {
  QByteArray b(237, '\0');
  PutShortString(b, 0, "COM2");
  PutShortString(b, 31, "Courier New");
  b[62] = 1;
  PutU32(b, 63, 10);
  PutU32(b, 67, 8);
  b[71] = 1;
  b[72] = 1;
  PutU32(b, 73, 0xFFFFFF);
  PutU32(b, 77, 0xF0CAA6);
  const uint32_t colors[12] = {0x0000FF, 0xFFFF00, 0x00FFFF, 0xFF00FF, 0x000000, 0x000080,
                               0x008080, 0x00FF00, 0xC0C0C0, 0x808000, 0xFF0000, 0x800080};
  const bool show[12] = {true, true, true, true, false, false, false, false, false, false, true, false};
  const double mult[12] = {1, 10, 1, 1, 10, 1, 1, 1, 1, 1, 100, 1};
  for (int i = 0; i < 12; ++i) {
    PutU32(b, 81 + 4 * i, colors[i]);
    b[129 + 9 * i] = show[i] ? 1 : 0;
    PutDouble(b, 130 + 9 * i, mult[i]);
  }
  return b;
}

QByteArray DefaultDeviceImage() {
  QByteArray b(239, '\0');
  b[1] = 1;          // DeviceSlot
  b[2] = 1;          // SlotFlag[slot 1]
  b[10] = 3;         // CalibrationTime
  b[18] = 0;         // DrainTime
  b[26] = 3;         // MeasurementTime
  PutU32(b, 34, 60); // CalibrationInterval
  PutU32(b, 66, 30); // CyclePeriod
  return b;
}

class SettingsFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    seams::SetExecutablePath(QDir(dir_.path()).filePath(QStringLiteral("korvex")));
    seams::SetBeepHandler([this] { ++beeps_; });
    seams::SetMessageHandler([this](const seams::MessageRequest& r) {
      messages_ << r.text;
      return seams::MsgResult::Ok;
    });
    ProgramSettings = TProgramSettings{};
    DeviceRecord = TDeviceRecord{};
    DeviceRecord.DeviceSlot = 1;
    settingsPath_ = QDir(dir_.path()).filePath(QStringLiteral("korvex.ini"));
    devicePath_ = QDir(dir_.path()).filePath(QStringLiteral("Device-001.ini"));
  }
  void TearDown() override { seams::ResetAll(); }

  QTemporaryDir dir_;
  QString settingsPath_, devicePath_;
  int beeps_ = 0;
  QStringList messages_;
};

TEST(SettingsPaths, ExtensionReplacedOrAppended) {
  EXPECT_EQ(ChangeFileExt(QStringLiteral("/opt/korvex/korvex"), QStringLiteral(".ini")),
            QStringLiteral("/opt/korvex/korvex.ini"));
  EXPECT_EQ(ChangeFileExt(QStringLiteral("C:\\Analyzer\\monitor.exe"), QStringLiteral(".ini")),
            QStringLiteral("C:\\Analyzer\\monitor.ini"));
  // A dot in a directory name is not an extension.
  EXPECT_EQ(ChangeFileExt(QStringLiteral("/srv/v1.2/monitor"), QStringLiteral(".ini")),
            QStringLiteral("/srv/v1.2/monitor.ini"));
  EXPECT_EQ(PathWithoutExtension(QStringLiteral("C:\\Analyzer\\monitor.exe")),
            QStringLiteral("C:\\Analyzer\\monitor"));
}

TEST_F(SettingsFilesTest, PathsFollowTheExecutableAndTheDeviceFileNameIsFixed) {
  seams::SetExecutablePath(QDir(dir_.path()).filePath(QStringLiteral("monitor.exe")));
  SettingsLoad();
  EXPECT_EQ(SettingsPath(), QDir(dir_.path()).filePath(QStringLiteral("monitor.ini")));
  EXPECT_EQ(DevicePath(), devicePath_);
}

TEST_F(SettingsFilesTest, DefaultsSaveToTheExactRecordImages) {
  EXPECT_FALSE(SettingsLoad());
  SettingsReset();
  ASSERT_TRUE(SettingsSave());
  EXPECT_EQ(ReadAll(settingsPath_), DefaultSettingsImage());
  EXPECT_EQ(ReadAll(devicePath_), DefaultDeviceImage());
}

TEST_F(SettingsFilesTest, HandBuiltImagesLoadIntoTheRightFieldsAndSaveBackUnchanged) {
  QByteArray s = DefaultSettingsImage();
  // Short strings keep whatever stands after their length.
  s.replace(0, 31, QByteArray("\x05" "COM12" "\xAA\xBB\xCC", 9).leftJustified(31, '\x5A'));
  PutShortString(s, 31, *cp1251::Encode(QStringLiteral(u"Шрифт")));
  s[62] = char(200);
  PutU32(s, 63, 45);
  PutU32(s, 67, 12);
  s[71] = 0;
  s[72] = 1;
  PutU32(s, 73, 0x00112233);
  PutU32(s, 77, 0x00445566);
  PutU32(s, 81 + 4 * 7, 0x00ABCDEF);
  s[129 + 9 * 4] = 1;
  PutDouble(s, 130 + 9 * 4, 2.5);

  QByteArray d(239, '\0');
  for (int i = 0; i < 239; ++i) d[i] = char(0x40 + i % 50);  // unused bytes too
  d[0] = 9;
  d[1] = 3;
  d[10 + 2] = 7;
  d[18 + 2] = 4;
  d[26 + 2] = 6;
  PutU32(d, 34 + 8, 110);
  PutU32(d, 66 + 8, 240);
  d[98] = 4;
  PutU32(d, 100, 5);
  d[104] = 2;
  d[105] = 1;
  d[106] = 3;
  PutDouble(d, 119, 46000.25);
  PutU32(d, 131, 0x0123);
  const double values[13] = {185, 21, 6.1, 42, 118, 3, 7, 0, 10.95, 121, 8.72, 1.41, 46000.5};
  for (int i = 0; i < 13; ++i) PutDouble(d, 135 + 8 * i, values[i]);

  ASSERT_TRUE(WriteAll(settingsPath_, s));
  ASSERT_TRUE(WriteAll(devicePath_, d));
  ASSERT_TRUE(SettingsLoad());

  EXPECT_EQ(ShortStringText(ProgramSettings.PortName), QStringLiteral("COM12"));
  EXPECT_EQ(ShortStringText(ProgramSettings.PrintFontName), QStringLiteral(u"Шрифт"));
  EXPECT_EQ(+ProgramSettings.NetAddress, 200);
  EXPECT_EQ(+ProgramSettings.RefreshPeriod, 45);
  EXPECT_EQ(+ProgramSettings.PrintFontSize, 12);
  EXPECT_EQ(+ProgramSettings.LogScale, 0);
  EXPECT_EQ(+ProgramSettings.View3D, 1);
  EXPECT_EQ(+ProgramSettings.ChartColorStart, 0x00112233u);
  EXPECT_EQ(+ProgramSettings.ChartColorEnd, 0x00445566u);
  EXPECT_EQ(+ProgramSettings.SeriesColor[7], 0x00ABCDEFu);
  EXPECT_EQ(+ProgramSettings.ChannelView[4].Show, 1);
  EXPECT_EQ(+ProgramSettings.ChannelView[4].Multiplier, 2.5);

  EXPECT_EQ(+DeviceRecord.DeviceAddress, 9);
  EXPECT_EQ(+DeviceRecord.DeviceSlot, 3);
  EXPECT_EQ(+DeviceRecord.CalibrationTime[2], 7);
  EXPECT_EQ(+DeviceRecord.DrainTime[2], 4);
  EXPECT_EQ(+DeviceRecord.MeasurementTime[2], 6);
  EXPECT_EQ(+DeviceRecord.CalibrationInterval[2], 110);
  EXPECT_EQ(+DeviceRecord.CyclePeriod[2], 240);
  EXPECT_EQ(+DeviceRecord.LinkState, 4);
  EXPECT_EQ(+DeviceRecord.FuelIndex, 5);
  EXPECT_EQ(+DeviceRecord.RequestKind, 2);
  EXPECT_EQ(+DeviceRecord.DeviceState, 1);
  EXPECT_EQ(+DeviceRecord.WorkMode, 3);
  EXPECT_EQ(+DeviceRecord.LogDate, 46000.25);
  EXPECT_EQ(+DeviceRecord.Measurement.FaultBits, 0x0123);
  EXPECT_EQ(+DeviceRecord.Measurement.Tg, 185);
  EXPECT_EQ(+DeviceRecord.Measurement.Ta, 21);
  EXPECT_EQ(+DeviceRecord.Measurement.O2, 6.1);
  EXPECT_EQ(+DeviceRecord.Measurement.Alf, 1.41);
  EXPECT_EQ(+DeviceRecord.Measurement.MeasTime, 46000.5);

  ASSERT_TRUE(SettingsSave());
  EXPECT_EQ(ReadAll(settingsPath_), s);
  EXPECT_EQ(ReadAll(devicePath_), d);
}

TEST_F(SettingsFilesTest, ResetWritesOnlyTheStringsLengthAndCharacters) {
  QByteArray s = DefaultSettingsImage();
  s.replace(0, 31, QByteArray(31, 'Z').replace(0, 1, "\x1E"));
  ASSERT_TRUE(WriteAll(settingsPath_, s));
  EXPECT_FALSE(SettingsLoad());  // no device file
  SettingsReset();
  ASSERT_TRUE(SettingsSave());
  const QByteArray saved = ReadAll(settingsPath_);
  EXPECT_EQ(saved.mid(0, 5), QByteArray("\x04" "COM2"));
  EXPECT_EQ(saved.mid(5, 26), QByteArray(26, 'Z'));
}

TEST_F(SettingsFilesTest, ShortDeviceFileFailsAndLongSettingsFileIsCut) {
  QByteArray s = DefaultSettingsImage() + QByteArray(63, '\x77');  // 300 bytes
  ASSERT_TRUE(WriteAll(settingsPath_, s));
  ASSERT_TRUE(WriteAll(devicePath_, DefaultDeviceImage().left(238)));
  EXPECT_FALSE(SettingsLoad());

  ASSERT_TRUE(WriteAll(devicePath_, DefaultDeviceImage()));
  EXPECT_TRUE(SettingsLoad());
  ASSERT_TRUE(SettingsSave());
  EXPECT_EQ(ReadAll(settingsPath_).size(), 237);
  EXPECT_EQ(ReadAll(devicePath_).size(), 239);
}

TEST_F(SettingsFilesTest, MissingSettingsFileSkipsTheDeviceFile) {
  ASSERT_TRUE(WriteAll(devicePath_, QByteArray(239, '\x11')));
  DeviceRecord.DeviceAddress = 1;
  EXPECT_FALSE(SettingsLoad());
  EXPECT_EQ(+DeviceRecord.DeviceAddress, 1);  // the device file was not read
}

TEST_F(SettingsFilesTest, DeviceSlotOutsideOneToEightIsAFailedLoad) {
  for (uint8_t slot : {uint8_t(0), uint8_t(9), uint8_t(255)}) {
    QByteArray d = DefaultDeviceImage();
    d[1] = char(slot);
    ASSERT_TRUE(WriteAll(settingsPath_, DefaultSettingsImage()));
    ASSERT_TRUE(WriteAll(devicePath_, d));
    EXPECT_FALSE(SettingsLoad()) << int(slot);
    EXPECT_EQ(+DeviceRecord.DeviceSlot, 1) << int(slot);
    SettingsReset();  // must stay inside the eight slots
    EXPECT_EQ(+DeviceRecord.CalibrationTime[0], 3);
  }
}

TEST_F(SettingsFilesTest, FileCutAfterTheSlotByteLeavesItsBytesBeforeFailing) {
  ASSERT_TRUE(WriteAll(settingsPath_, DefaultSettingsImage()));
  ASSERT_TRUE(WriteAll(devicePath_, QByteArray("\x07\x05", 2)));
  EXPECT_FALSE(SettingsLoad());
  EXPECT_EQ(+DeviceRecord.DeviceAddress, 7);
  EXPECT_EQ(+DeviceRecord.DeviceSlot, 5);
  SettingsReset();
  EXPECT_EQ(+DeviceRecord.CyclePeriod[4], 30);
}

TEST_F(SettingsFilesTest, FailedSaveLeavesTheOldFilesIntact) {
  SettingsLoad();
  SettingsReset();
  ASSERT_TRUE(SettingsSave());
  const QByteArray oldSettings = ReadAll(settingsPath_);
  const QByteArray oldDevice = ReadAll(devicePath_);

  ProgramSettings.RefreshPeriod = 55;
  // A full disk, as the kernel reports it: writes beyond 100 bytes fail.
  struct rlimit old;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  auto previous = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit tiny = old;
  tiny.rlim_cur = 100;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &tiny), 0);
  const bool saved = SettingsSave();
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, previous);

  EXPECT_FALSE(saved);
  EXPECT_EQ(beeps_, 1);
  ASSERT_EQ(messages_.size(), 1);
  EXPECT_EQ(messages_[0], QStringLiteral(u"Ошибка доступа к диску!\r\nПерезагрузите компьютер!"));
  EXPECT_EQ(ReadAll(settingsPath_), oldSettings);
  EXPECT_EQ(ReadAll(devicePath_), oldDevice);
  EXPECT_EQ(+ProgramSettings.RefreshPeriod, 55);  // memory keeps the new value
  // No temporary file is left behind.
  EXPECT_EQ(QDir(dir_.path()).entryList(QDir::Files).size(), 2);
}

TEST(ShortStrings, Windows1251AndTheThirtyCharacterCut) {
  TShortString30 s{};
  std::memset(s.Chars, 'x', sizeof s.Chars);
  ASSERT_TRUE(SetShortString(s, QStringLiteral(u"Печать")));
  EXPECT_EQ(s.Length, 6);
  EXPECT_EQ(uint8_t(s.Chars[0]), 0xCF);  // П in Windows-1251
  EXPECT_EQ(s.Chars[6], 'x');           // the rest stays as it was
  EXPECT_EQ(ShortStringText(s), QStringLiteral(u"Печать"));

  ASSERT_TRUE(SetShortString(s, QString(40, QLatin1Char('a'))));
  EXPECT_EQ(s.Length, 30);

  // A text that Windows-1251 cannot hold is refused, not written altered.
  TShortString30 before = s;
  EXPECT_FALSE(SetShortString(s, QStringLiteral(u"COM\u4E2D")));
  EXPECT_EQ(std::memcmp(&before, &s, sizeof s), 0);
}

}  // namespace
