#include "storage/settings_files.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstring>
#include <optional>

#include "platform/seams.h"
#include "support/test_files.h"
#include "platform/text_codec.h"
#include "support/file_size_limit.h"

namespace {

using test_files::readAll;
using test_files::writeAll;

void putU32(QByteArray& b, int at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = char((v >> (8 * i)) & 0xFF);
}

void putDouble(QByteArray& b, int at, double v) {
  uint64_t bits;
  std::memcpy(&bits, &v, 8);
  for (int i = 0; i < 8; ++i) b[at + i] = char((bits >> (8 * i)) & 0xFF);
}

void putShortString(QByteArray& b, int at, const QByteArray& text) {
  b[at] = char(text.size());
  for (int i = 0; i < text.size(); ++i) b[at + 1 + i] = text[i];
}

// Byte images as written by hand from the record layout.
QByteArray defaultSettingsImage() {
  QByteArray b(237, '\0');
  putShortString(b, 0, "COM2");
  putShortString(b, 31, "Courier New");
  b[62] = 1;
  putU32(b, 63, 10);
  putU32(b, 67, 8);
  b[71] = 1;
  b[72] = 1;
  putU32(b, 73, 0xFFFFFF);
  putU32(b, 77, 0xF0CAA6);
  const uint32_t colors[12] = {0x0000FF, 0xFFFF00, 0x00FFFF, 0xFF00FF, 0x000000, 0x000080,
                               0x008080, 0x00FF00, 0xC0C0C0, 0x808000, 0xFF0000, 0x800080};
  const bool show[12] = {true, true, true, true, false, false, false, false, false, false, true, false};
  const double mult[12] = {1, 10, 1, 1, 10, 1, 1, 1, 1, 1, 100, 1};
  for (int i = 0; i < 12; ++i) {
    putU32(b, 81 + 4 * i, colors[i]);
    b[129 + 9 * i] = show[i] ? 1 : 0;
    putDouble(b, 130 + 9 * i, mult[i]);
  }
  return b;
}

QByteArray defaultDeviceImage() {
  QByteArray b(239, '\0');
  b[1] = 1;          // deviceSlot
  b[2] = 1;          // slotFlag[slot 1]
  b[10] = 3;         // calibrationTime
  b[18] = 0;         // drainTime
  b[26] = 3;         // measurementTime
  putU32(b, 34, 60); // calibrationInterval
  putU32(b, 66, 30); // cyclePeriod
  return b;
}

class SettingsFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    seams::setExecutablePath(QDir(dir_.path()).filePath(QStringLiteral("korvex")));
    settingsPath_ = QDir(dir_.path()).filePath(QStringLiteral("korvex.ini"));
    devicePath_ = QDir(dir_.path()).filePath(QStringLiteral("Device-001.ini"));
    files_ = SettingsFiles(QDir(dir_.path()).filePath(QStringLiteral("korvex")));
  }
  void TearDown() override { seams::resetAll(); }

  QTemporaryDir dir_;
  QString settingsPath_, devicePath_;
  SettingsFiles files_;
  const ProgramSettings& programSettings = files_.programRecord();
  const DeviceRecord& deviceRecord = files_.deviceRecord();
};

TEST(SettingsPaths, ExtensionReplacedOrAppended) {
  EXPECT_EQ(changeFileExt(QStringLiteral("/opt/korvex/korvex"), QStringLiteral(".ini")),
            QStringLiteral("/opt/korvex/korvex.ini"));
  EXPECT_EQ(changeFileExt(QStringLiteral("C:\\Analyzer\\monitor.exe"), QStringLiteral(".ini")),
            QStringLiteral("C:\\Analyzer\\monitor.ini"));
  // A dot in a directory name is not an extension.
  EXPECT_EQ(changeFileExt(QStringLiteral("/srv/v1.2/monitor"), QStringLiteral(".ini")),
            QStringLiteral("/srv/v1.2/monitor.ini"));
  EXPECT_EQ(pathWithoutExtension(QStringLiteral("C:\\Analyzer\\monitor.exe")),
            QStringLiteral("C:\\Analyzer\\monitor"));
}

TEST_F(SettingsFilesTest, PathsFollowTheExecutableAndTheDeviceFileNameIsFixed) {
  const SettingsFiles files(QDir(dir_.path()).filePath(QStringLiteral("monitor.exe")));
  EXPECT_EQ(files.settingsPath(), QDir(dir_.path()).filePath(QStringLiteral("monitor.ini")));
  EXPECT_EQ(files.devicePath(), devicePath_);
  EXPECT_EQ(files_.settingsPath(), settingsPath_);
}

TEST_F(SettingsFilesTest, DefaultsSaveToTheExactRecordImages) {
  EXPECT_FALSE(files_.load());
  files_.reset();
  ASSERT_TRUE(files_.save());
  EXPECT_EQ(readAll(settingsPath_), defaultSettingsImage());
  EXPECT_EQ(readAll(devicePath_), defaultDeviceImage());
}

TEST_F(SettingsFilesTest, HandBuiltImagesLoadIntoTheRightFieldsAndSaveBackUnchanged) {
  QByteArray s = defaultSettingsImage();
  // Short strings keep whatever stands after their length.
  s.replace(0, 31, QByteArray("\x05" "COM12" "\xAA\xBB\xCC", 9).leftJustified(31, '\x5A'));
  putShortString(s, 31, *cp1251::encode(QStringLiteral(u"Шрифт")));
  s[62] = char(200);
  putU32(s, 63, 45);
  putU32(s, 67, 12);
  s[71] = 0;
  s[72] = 1;
  putU32(s, 73, 0x00112233);
  putU32(s, 77, 0x00445566);
  putU32(s, 81 + 4 * 7, 0x00ABCDEF);
  s[129 + 9 * 4] = 1;
  putDouble(s, 130 + 9 * 4, 2.5);

  QByteArray d(239, '\0');
  for (int i = 0; i < 239; ++i) d[i] = char(0x40 + i % 50);  // unused bytes too
  d[0] = 9;
  d[1] = 3;
  d[10 + 2] = 7;
  d[18 + 2] = 4;
  d[26 + 2] = 6;
  putU32(d, 34 + 8, 110);
  putU32(d, 66 + 8, 240);
  d[98] = 4;
  putU32(d, 100, 5);
  d[104] = 2;
  d[105] = 1;
  d[106] = 3;
  putDouble(d, 119, 46000.25);
  putU32(d, 131, 0x0123);
  const double values[13] = {185, 21, 6.1, 42, 118, 3, 7, 0, 10.95, 121, 8.72, 1.41, 46000.5};
  for (int i = 0; i < 13; ++i) putDouble(d, 135 + 8 * i, values[i]);

  ASSERT_TRUE(writeAll(settingsPath_, s));
  ASSERT_TRUE(writeAll(devicePath_, d));
  ASSERT_TRUE(files_.load());

  EXPECT_EQ(shortStringText(programSettings.portName), QStringLiteral("COM12"));
  EXPECT_EQ(shortStringText(programSettings.printFontName), QStringLiteral(u"Шрифт"));
  EXPECT_EQ(+programSettings.netAddress, 200);
  EXPECT_EQ(+programSettings.refreshPeriod, 45);
  EXPECT_EQ(+programSettings.printFontSize, 12);
  EXPECT_EQ(+programSettings.logScale, 0);
  EXPECT_EQ(+programSettings.view3D, 1);
  EXPECT_EQ(+programSettings.chartColorStart, 0x00112233u);
  EXPECT_EQ(+programSettings.chartColorEnd, 0x00445566u);
  EXPECT_EQ(+programSettings.seriesColor[7], 0x00ABCDEFu);
  EXPECT_EQ(+programSettings.channelView[4].show, 1);
  EXPECT_EQ(+programSettings.channelView[4].multiplier, 2.5);

  EXPECT_EQ(+deviceRecord.deviceAddress, 9);
  EXPECT_EQ(+deviceRecord.deviceSlot, 3);
  EXPECT_EQ(+deviceRecord.calibrationTime[2], 7);
  EXPECT_EQ(+deviceRecord.drainTime[2], 4);
  EXPECT_EQ(+deviceRecord.measurementTime[2], 6);
  EXPECT_EQ(+deviceRecord.calibrationInterval[2], 110);
  EXPECT_EQ(+deviceRecord.cyclePeriod[2], 240);
  EXPECT_EQ(+deviceRecord.linkState, 4);
  EXPECT_EQ(+deviceRecord.fuelIndex, 5);
  EXPECT_EQ(+deviceRecord.requestKind, 2);
  EXPECT_EQ(+deviceRecord.deviceState, 1);
  EXPECT_EQ(+deviceRecord.workMode, 3);
  EXPECT_EQ(+deviceRecord.logDate, 46000.25);
  EXPECT_EQ(+deviceRecord.measurement.faultBits, 0x0123);
  EXPECT_EQ(+deviceRecord.measurement.tg, 185);
  EXPECT_EQ(+deviceRecord.measurement.ta, 21);
  EXPECT_EQ(+deviceRecord.measurement.o2, 6.1);
  EXPECT_EQ(+deviceRecord.measurement.alf, 1.41);
  EXPECT_EQ(+deviceRecord.measurement.measTime, 46000.5);

  // The values read from them.
  const MeasuringSettings m = files_.measuring();
  EXPECT_EQ(m.portName, QStringLiteral("COM12"));
  EXPECT_EQ(+m.address, 200);
  EXPECT_EQ(m.refreshPeriod, 45);
  EXPECT_EQ(+m.times.zeroSetting, 7);
  EXPECT_EQ(+m.times.drain, 4);
  EXPECT_EQ(+m.times.measuring, 6);
  EXPECT_EQ(m.times.continuousPeriod, 110);
  EXPECT_EQ(m.times.cyclePeriod, 240);
  const ViewSettings v = files_.view();
  EXPECT_FALSE(v.logScale);
  EXPECT_TRUE(v.view3D);
  EXPECT_EQ(v.channels[7].color, 0x00ABCDEFu);
  EXPECT_TRUE(v.channels[4].shown);
  EXPECT_EQ(v.channels[4].factor, 2.5);
  EXPECT_EQ(files_.print().fontName, QStringLiteral(u"Шрифт"));
  EXPECT_EQ(files_.print().fontSize, 12);

  // Handed back unchanged, the values leave every byte as it was read.
  ASSERT_TRUE(files_.setMeasuring(m));
  files_.setView(v);
  ASSERT_TRUE(files_.setPrint(files_.print()));
  ASSERT_TRUE(files_.save());
  EXPECT_EQ(readAll(settingsPath_), s);
  EXPECT_EQ(readAll(devicePath_), d);
}

TEST_F(SettingsFilesTest, ChangedValuesChangeOnlyTheirOwnBytes) {
  QByteArray s = defaultSettingsImage();
  s[129 + 9 * 2] = 5;  // CO shown, as another program may have written "true"
  s.replace(0, 31, QByteArray("\x04" "COM3" "\xAA\xBB", 7).leftJustified(31, '\x5A'));
  QByteArray d = defaultDeviceImage();
  d[2 + 3] = 1;  // another slot's flag and times stay
  d[10 + 3] = 9;
  ASSERT_TRUE(writeAll(settingsPath_, s));
  ASSERT_TRUE(writeAll(devicePath_, d));
  ASSERT_TRUE(files_.load());

  MeasuringSettings m = files_.measuring();
  m.refreshPeriod = 2;
  m.portName = QStringLiteral("COM4");
  ASSERT_TRUE(files_.setMeasuring(m));
  ViewSettings v = files_.view();
  v.channels[0].shown = false;
  files_.setView(v);
  ASSERT_TRUE(files_.save());

  QByteArray expected = s;
  expected[1 + 3] = '4';  // "COM4": the length and the characters only
  expected[63] = 2;       // the refresh period
  expected[129] = 0;      // Tg hidden
  EXPECT_EQ(readAll(settingsPath_), expected);
  EXPECT_EQ(readAll(devicePath_), d);
  EXPECT_EQ(+readAll(settingsPath_).at(129 + 9 * 2), 5);

  // A name Windows-1251 cannot hold changes nothing.
  m.portName = QStringLiteral(u"COM\u4E2D");
  EXPECT_FALSE(files_.setMeasuring(m));
  EXPECT_EQ(files_.measuring().portName, QStringLiteral("COM4"));
}

TEST_F(SettingsFilesTest, ResetWritesOnlyTheStringsLengthAndCharacters) {
  QByteArray s = defaultSettingsImage();
  s.replace(0, 31, QByteArray(31, 'Z').replace(0, 1, "\x1E"));
  ASSERT_TRUE(writeAll(settingsPath_, s));
  EXPECT_FALSE(files_.load());  // no device file
  files_.reset();
  ASSERT_TRUE(files_.save());
  const QByteArray saved = readAll(settingsPath_);
  EXPECT_EQ(saved.mid(0, 5), QByteArray("\x04" "COM2"));
  EXPECT_EQ(saved.mid(5, 26), QByteArray(26, 'Z'));
}

TEST_F(SettingsFilesTest, ShortDeviceFileFailsAndLongSettingsFileIsCut) {
  QByteArray s = defaultSettingsImage() + QByteArray(63, '\x77');  // 300 bytes
  ASSERT_TRUE(writeAll(settingsPath_, s));
  ASSERT_TRUE(writeAll(devicePath_, defaultDeviceImage().left(238)));
  EXPECT_FALSE(files_.load());

  ASSERT_TRUE(writeAll(devicePath_, defaultDeviceImage()));
  EXPECT_TRUE(files_.load());
  ASSERT_TRUE(files_.save());
  EXPECT_EQ(readAll(settingsPath_).size(), 237);
  EXPECT_EQ(readAll(devicePath_).size(), 239);
}

TEST_F(SettingsFilesTest, MissingSettingsFileSkipsTheDeviceFile) {
  ASSERT_TRUE(writeAll(devicePath_, QByteArray(239, '\x11')));
  files_.deviceRecord().deviceAddress = 1;
  EXPECT_FALSE(files_.load());
  EXPECT_EQ(+deviceRecord.deviceAddress, 1);  // the device file was not read
}

TEST_F(SettingsFilesTest, DeviceSlotOutsideOneToEightIsAFailedLoad) {
  for (uint8_t slot : {uint8_t(0), uint8_t(9), uint8_t(255)}) {
    QByteArray d = defaultDeviceImage();
    d[1] = char(slot);
    ASSERT_TRUE(writeAll(settingsPath_, defaultSettingsImage()));
    ASSERT_TRUE(writeAll(devicePath_, d));
    EXPECT_FALSE(files_.load()) << int(slot);
    EXPECT_EQ(+deviceRecord.deviceSlot, 1) << int(slot);
    files_.reset();  // must stay inside the eight slots
    EXPECT_EQ(+deviceRecord.calibrationTime[0], 3);
  }
}

TEST_F(SettingsFilesTest, FileCutAfterTheSlotByteLeavesItsBytesBeforeFailing) {
  ASSERT_TRUE(writeAll(settingsPath_, defaultSettingsImage()));
  ASSERT_TRUE(writeAll(devicePath_, QByteArray("\x07\x05", 2)));
  EXPECT_FALSE(files_.load());
  EXPECT_EQ(+deviceRecord.deviceAddress, 7);
  EXPECT_EQ(+deviceRecord.deviceSlot, 5);
  files_.reset();
  EXPECT_EQ(+deviceRecord.cyclePeriod[4], 30);
}

TEST_F(SettingsFilesTest, FailedSaveLeavesTheOldFilesIntact) {
  files_.load();
  files_.reset();
  ASSERT_TRUE(files_.save());
  const QByteArray oldSettings = readAll(settingsPath_);
  const QByteArray oldDevice = readAll(devicePath_);

  files_.programRecord().refreshPeriod = 55;
  // A full disk, as the kernel reports it: writes beyond 100 bytes fail.
  std::optional<FileSizeLimit> full(std::in_place, 100);
  ASSERT_TRUE(full->set());
  const bool saved = files_.save();
  full.reset();

  EXPECT_FALSE(saved);
  EXPECT_EQ(readAll(settingsPath_), oldSettings);
  EXPECT_EQ(readAll(devicePath_), oldDevice);
  EXPECT_EQ(+programSettings.refreshPeriod, 55);  // memory keeps the new value
  // No temporary file is left behind.
  EXPECT_EQ(QDir(dir_.path()).entryList(QDir::Files).size(), 2);
}

TEST(ShortStrings, Windows1251AndTheThirtyCharacterCut) {
  ShortString30 s{};
  std::memset(s.chars, 'x', sizeof s.chars);
  ASSERT_TRUE(setShortString(s, QStringLiteral(u"Печать")));
  EXPECT_EQ(s.length, 6);
  EXPECT_EQ(uint8_t(s.chars[0]), 0xCF);  // П in Windows-1251
  EXPECT_EQ(s.chars[6], 'x');           // the rest stays as it was
  EXPECT_EQ(shortStringText(s), QStringLiteral(u"Печать"));

  ASSERT_TRUE(setShortString(s, QString(40, QLatin1Char('a'))));
  EXPECT_EQ(s.length, 30);

  // A text that Windows-1251 cannot hold is refused, not written altered.
  ShortString30 before = s;
  EXPECT_FALSE(setShortString(s, QStringLiteral(u"COM\u4E2D")));
  EXPECT_EQ(std::memcmp(&before, &s, sizeof s), 0);
}

}  // namespace

// The line's further analyzers are their device files: a new one gets its
// slot's defaults and its address as the first byte, an existing one keeps
// every other byte, the first analyzer's file is never touched, and a file
// without a whole record or a usable address is no analyzer.
TEST_F(SettingsFilesTest, FurtherAnalyzersAreTheDeviceFilesOfSlotsTwoToEight) {
  ASSERT_TRUE(writeAll(devicePath_, defaultDeviceImage()));
  const QString second = QDir(dir_.path()).filePath(QStringLiteral("Device-002.ini"));
  const QString eighth = QDir(dir_.path()).filePath(QStringLiteral("Device-008.ini"));
  EXPECT_EQ(deviceFilePath(files_.settingsPath(), 2), second);
  QString error;
  ASSERT_TRUE(files_.addLineAnalyzer(2, 9, &error));
  QByteArray image = readAll(second);
  ASSERT_EQ(image.size(), 239);
  EXPECT_EQ(uint8_t(image[0]), 9);
  EXPECT_EQ(uint8_t(image[1]), 2);       // its slot
  EXPECT_EQ(uint8_t(image[10 + 1]), 3);  // the slot's zero setting time
  image[26 + 1] = 7;                     // measuring 7 minutes, the operator's
  ASSERT_TRUE(writeAll(second, image));
  ASSERT_TRUE(files_.addLineAnalyzer(2, 11, &error));
  EXPECT_EQ(uint8_t(readAll(second)[26 + 1]), 7);
  EXPECT_EQ(readAll(devicePath_), defaultDeviceImage());

  ASSERT_TRUE(writeAll(eighth, QByteArray(100, '\x05')));  // short: no analyzer
  ASSERT_TRUE(writeAll(QDir(dir_.path()).filePath(QStringLiteral("Device-005.ini")), QByteArray(239, '\0')));
  MeasuringSettings line;
  line.portName = QStringLiteral("tcp://127.0.0.1:4001");
  line.refreshPeriod = 2;
  const QVector<LineAnalyzer> found = files_.lineAnalyzers(line);
  ASSERT_EQ(found.size(), 1);
  EXPECT_EQ(found[0].slot, 2);
  EXPECT_EQ(found[0].measuring.address, 11);
  EXPECT_EQ(found[0].measuring.portName, line.portName);
  EXPECT_EQ(found[0].measuring.refreshPeriod, 2);
  EXPECT_EQ(found[0].measuring.times.measuring, 7);

  ASSERT_TRUE(files_.removeLineAnalyzer(2, &error));
  EXPECT_FALSE(QFile::exists(second));
  EXPECT_TRUE(files_.lineAnalyzers(line).isEmpty());
  EXPECT_TRUE(QFile::exists(devicePath_));
}
