#include "support/korvex_fixture.h"

#include <QDialog>
#include <QDir>

#include "app/Korvex_ModbusRTU_MainChat.h"
#include "app/message_timer.h"
#include "device/fuel_table.h"
#include "storage/settings_files.h"

void KorvexFixture::SetUp() {
  ASSERT_TRUE(dir_.isValid());
  exePath_ = QDir(dir_.path()).filePath(QStringLiteral("korvex"));
  seams::SetExecutablePath(exePath_);
  seams::SetLocale(QLocale(QLocale::Russian, QLocale::Russia));
  now_ = QDateTime(QDate(2026, 12, 6), QTime(10, 0, 0));
  seams::SetClock([this] { return now_; });
  seams::SetMessageHandler([this](const seams::MessageRequest& r) {
    messages_.push_back({r.icon, r.title, r.text, Form1 && Form1->Timer1->Enabled()});
    if (!answers_.empty()) {
      const seams::MsgResult a = answers_.front();
      answers_.pop_front();
      return a;
    }
    return r.buttons == seams::MsgButtons::Ok ? seams::MsgResult::Ok : seams::MsgResult::Yes;
  });
  seams::SetBeepHandler([this] { ++beeps_; });
  seams::SetFileDialogHandler([this](const seams::FileDialogRequest& r) {
    fileDialogs_.push_back(r);
    return fileDialog_ ? fileDialog_(r) : QString();
  });
  seams::SetFontDialogHandler([this](const seams::FontDialogRequest& r) -> std::optional<QFont> {
    fontDialogs_.push_back(r);
    if (fontDialog_) return fontDialog_(r);
    return std::nullopt;
  });
  seams::SetModalHandler([this](QDialog* d) { return modal_ ? modal_(d) : int(QDialog::Rejected); });
  InstallFakeSerial(serial_);
  FuelTableReset();
  ProgramSettings = TProgramSettings{};
  DeviceRecord = TDeviceRecord{};
}

void KorvexFixture::TearDown() {
  DestroyForms();
  ClearFakeSerial();
  seams::ResetAll();
}

QString KorvexFixture::InDir(const QString& name) const { return QDir(dir_.path()).filePath(name); }

void KorvexFixture::WriteDefaultSettings(const QString& portName) {
  ProgramSettings = TProgramSettings{};
  DeviceRecord = TDeviceRecord{};
  DeviceRecord.DeviceSlot = 1;
  SettingsLoad();  // computes the paths; the files do not exist yet
  DeviceRecord.DeviceSlot = 1;
  SettingsReset();
  SetShortString(ProgramSettings.PortName, portName);
  ASSERT_TRUE(SettingsSave());
  ProgramSettings = TProgramSettings{};
  DeviceRecord = TDeviceRecord{};
}

TForm1* KorvexFixture::StartProgram() {
  CreateForms();
  return Form1;
}

void KorvexFixture::StartWithDefaults() {
  WriteDefaultSettings();
  StartProgram();
  ASSERT_TRUE(TakeMessages().empty());
}

void KorvexFixture::Arrive(const Frame& bytes) {
  for (uint8_t b : bytes) Form1->Recieve(Form1->ComPort, b, false);
}

void KorvexFixture::Tick() { Form1->Timer1Timer(); }

void KorvexFixture::TickWith(const Frame& reply) {
  Arrive(reply);
  Tick();
}

std::vector<RecordedMessage> KorvexFixture::TakeMessages() {
  std::vector<RecordedMessage> out;
  out.swap(messages_);
  return out;
}
