#include "support/korvex_fixture.h"

#include <QDialog>
#include <QDir>
#include <QLabel>
#include <QPrinter>
#include <limits>

#include "device/fuel_table.h"
#include "print/printers.h"
#include "storage/settings_files.h"
#include "storage/settings_records.h"
#include "support/test_settings.h"

std::unique_ptr<QPrinter> printerWithoutSystemPrinters() {
  auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
  printer->setOutputFormat(QPrinter::PdfFormat);
  return printer;
}

void setNoPrinter(QPrinter& printer) {
  printer.setOutputFileName(QString());
  printer.setOutputFormat(QPrinter::PdfFormat);
}

void KorvexFixture::SetUp() {
  ASSERT_TRUE(dir_.isValid());
  exePath_ = QDir(dir_.path()).filePath(QStringLiteral("korvex"));
  seams::setExecutablePath(exePath_);
  seams::setLocale(QLocale(QLocale::Russian, QLocale::Russia));
  now_ = QDateTime(QDate(2026, 12, 6), QTime(10, 0, 0));
  seams::setClock([this] { return now_; });
  seams::setMessageHandler([this](const seams::MessageRequest& r) {
    messages_.push_back({r.icon, r.title, r.text, session_ && session_->pollTimer()->isEnabled()});
    if (!answers_.empty()) {
      const seams::MsgResult a = answers_.front();
      answers_.pop_front();
      return a;
    }
    return r.buttons == seams::MsgButtons::Ok ? seams::MsgResult::Ok : seams::MsgResult::Yes;
  });
  seams::setBeepHandler([this] { ++beeps_; });
  seams::setFileDialogHandler([this](const seams::FileDialogRequest& r) {
    fileDialogs_.push_back(r);
    return fileDialog_ ? fileDialog_(r) : QString();
  });
  seams::setFontDialogHandler([this](const seams::FontDialogRequest& r) -> std::optional<QFont> {
    fontDialogs_.push_back(r);
    if (fontDialog_) return fontDialog_(r);
    return std::nullopt;
  });
  seams::setModalHandler([this](QDialog* d) { return modal_ ? modal_(d) : int(QDialog::Rejected); });
  seams::setPrinterFactory(&printerWithoutSystemPrinters);
  seams::setSystemPrinterNames([] { return QStringList(); });
  installFakeSerial(serial_);
  resetFuelTable();
  programSettings = ProgramSettings{};
  deviceRecord = DeviceRecord{};
}

void KorvexFixture::TearDown() {
  stopProgram();
  clearFakeSerial();
  seams::resetAll();
  seams::resetWidgetSeams();
  seams::resetPrinters();
}

void KorvexFixture::stopProgram() {
  window_.reset();
  session_.reset();
}

QString KorvexFixture::inDir(const QString& name) const { return QDir(dir_.path()).filePath(name); }

QVector<StoredEvent> KorvexFixture::events(EventKind kind) const {
  QVector<StoredEvent> out;
  for (const StoredEvent& e : session().store().events(0, std::numeric_limits<qint64>::max()))
    if (e.kind == kind) out << e;
  return out;
}

int KorvexFixture::lamp() const { return find<QLabel>("EmissionAlarmLamp")->property("lamp").toInt(); }

void KorvexFixture::writeDefaultSettings(const QString& portName) {
  ASSERT_TRUE(test_settings::writeDefaults(portName));
}

MainWindow* KorvexFixture::startProgram() {
  session_ = std::make_unique<Session>();
  window_ = std::make_unique<MainWindow>(*session_);
  return window_.get();
}

void KorvexFixture::startWithDefaults() {
  writeDefaultSettings();
  startProgram();
  ASSERT_TRUE(takeMessages().empty());
}

QString KorvexFixture::cell(int column, int gridRow) const {
  if (gridRow == 0) return session_->results().header(column);
  return session_->results().cell(gridRow - 1, column);
}

int KorvexFixture::gridRows() const { return 1 + std::max(session_->results().count(), 1); }

void KorvexFixture::arrive(const Frame& bytes) {
  session_->link().receive(bytes.data(), int(bytes.size()));
}

void KorvexFixture::tick() { session_->pollTimer()->fire(); }

void KorvexFixture::tickWith(const Frame& reply) {
  arrive(reply);
  tick();
}

void KorvexFixture::addResult(const Measurement& m, int seconds) {
  const QDateTime at = now_.addSecs(seconds);
  Result r;
  r.utcMs = at.toMSecsSinceEpoch();
  r.utcOffset = at.offsetFromUtc();
  r.faultBits = m.faultBits;
  r.values = m.values;
  emit session_->pollCycle().resultTaken(r);
}

std::vector<RecordedMessage> KorvexFixture::takeMessages() {
  std::vector<RecordedMessage> out;
  out.swap(messages_);
  return out;
}
