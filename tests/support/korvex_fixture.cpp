#include "support/korvex_fixture.h"

#include <QDateEdit>
#include <QDialog>
#include <QLabel>
#include <QPrinter>
#include <QSignalSpy>

#include "print/printers.h"
#include "service/result_reader.h"
#include "storage/user_accounts.h"

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
  SessionFixture::SetUp();
  seams::setMessageHandler([this](const seams::MessageRequest& r) {
    messages_.push_back({r.icon, r.title, r.text, host_ && host_->session()->pollTimer()->isEnabled()});
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
}

void KorvexFixture::TearDown() {
  SessionFixture::TearDown();
  seams::resetWidgetSeams();
  seams::resetPrinters();
}

void KorvexFixture::stopProgram() {
  window_.reset();
  host_.reset();
}

int KorvexFixture::lamp() const { return find<QLabel>("EmissionAlarmLamp")->property("lamp").toInt(); }

MainWindow* KorvexFixture::startProgram() {
  table_.clear();
  host_ = std::make_unique<SessionHost>(hostOptions_);
  follow(false);
  window_ = std::make_unique<MainWindow>(*host_);
  return window_.get();
}

void KorvexFixture::startWithDefaults() {
  writeDefaultSettings();
  startProgram();
  ASSERT_TRUE(takeMessages().empty());
  ASSERT_TRUE(takeNotices().empty());
}

std::vector<RecordedMessage> KorvexFixture::takeMessages() {
  std::vector<RecordedMessage> out;
  out.swap(messages_);
  return out;
}

void KorvexFixture::writeAccounts(bool withEngineer) {
  UserAccounts accounts;
  ASSERT_TRUE(accounts.load(UserAccounts::defaultPath()));
  QString error;
  // The first account is an administrator's.
  ASSERT_TRUE(accounts.add(QStringLiteral("admin"), Role::Administrator, QStringLiteral("Admin-pass-1"), &error));
  if (withEngineer) {
    ASSERT_TRUE(accounts.add(QStringLiteral(u"Иванов"), Role::Engineer, QStringLiteral("Engineer-pass-3"), &error));
  }
  ASSERT_TRUE(accounts.add(QStringLiteral(u"Петров"), Role::Operator, QStringLiteral("Operator-pass-2"), &error));
  ASSERT_TRUE(accounts.save(&error)) << error.toStdString();
}

void KorvexFixture::showHistory(const QDate& from, const QDate& to) {
  modal_ = [&](QDialog* d) {
    find<QDateEdit>("DateFrom", d)->setDate(from);
    find<QDateEdit>("DateTo", d)->setDate(to);
    d->accept();
    return d->result();
  };
  QSignalSpy finished(&host().historyReader(), &ResultReader::historyFinished);
  window().onHistoryTriggered();
  modal_ = nullptr;
  ASSERT_TRUE(finished.wait(30000));
}
