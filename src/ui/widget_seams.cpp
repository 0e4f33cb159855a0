#include "ui/widget_seams.h"

#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QFontDialog>
#include <QMessageBox>
#include <QPushButton>

namespace seams {
namespace {

MessageHandler g_messageHandler;
std::function<void()> g_beepHandler;
FileDialogHandler g_fileDialogHandler;
FontDialogHandler g_fontDialogHandler;
ModalHandler g_modalHandler;

const QString kErrorTitle = QStringLiteral("Error");
const QString kWarningTitle = QStringLiteral("Warning");
const QString kConfirmTitle = QStringLiteral("Confirm");

// "Файлы данных KVX(*.kvx)|*.kvx" -> "Файлы данных KVX(*.kvx)"; Qt takes the
// patterns from the parentheses of the description.
QString qtFilter(const QString& filter) {
  const QStringList parts = filter.split(QLatin1Char('|'));
  QStringList out;
  for (int i = 0; i + 1 < parts.size(); i += 2) {
    QString description = parts[i];
    if (!description.contains(QLatin1Char('(')))
      description += QStringLiteral(" (") + parts[i + 1] + QLatin1Char(')');
    out << description;
  }
  if (out.isEmpty()) out << filter;
  return out.join(QStringLiteral(";;"));
}

}  // namespace

QString errorTitle() { return kErrorTitle; }
QString warningTitle() { return kWarningTitle; }

std::unique_ptr<QMessageBox> messageBox(const MessageRequest& request) {
  auto box = std::make_unique<QMessageBox>(request.parent);
  box->setWindowTitle(request.title);
  const bool standardTitle =
      request.title == kErrorTitle || request.title == kWarningTitle || request.title == kConfirmTitle;
  box->setText(standardTitle || request.title.isEmpty() ? request.text
                                                         : request.title + QLatin1Char('\n') + request.text);
  switch (request.icon) {
    case MsgIcon::None: box->setIcon(QMessageBox::NoIcon); break;
    case MsgIcon::Error: box->setIcon(QMessageBox::Critical); break;
    case MsgIcon::Warning: box->setIcon(QMessageBox::Warning); break;
    case MsgIcon::Confirm: box->setIcon(QMessageBox::Question); break;
  }
  if (request.buttons == MsgButtons::Ok) {
    QPushButton* ok = box->addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    box->setDefaultButton(ok);
    box->setEscapeButton(ok);
  } else {
    QPushButton* yes = box->addButton(QStringLiteral("&Yes"), QMessageBox::YesRole);
    QPushButton* no = box->addButton(QStringLiteral("&No"), QMessageBox::NoRole);
    box->setDefaultButton(yes);
    box->setEscapeButton(no);
  }
  return box;
}

MsgResult showMessage(QWidget* parent, MsgIcon icon, const QString& title, const QString& text,
                      MsgButtons buttons) {
  const MessageRequest request{parent, icon, title, text, buttons};
  if (g_messageHandler) return g_messageHandler(request);
  const std::unique_ptr<QMessageBox> box = messageBox(request);
  box->exec();
  if (buttons == MsgButtons::Ok) return MsgResult::Ok;
  return box->buttonRole(box->clickedButton()) == QMessageBox::YesRole ? MsgResult::Yes : MsgResult::No;
}

void errorBox(QWidget* parent, const QString& text) { showMessage(parent, MsgIcon::Error, kErrorTitle, text); }

void warningBox(QWidget* parent, const QString& text) {
  showMessage(parent, MsgIcon::Warning, kWarningTitle, text);
}

bool confirmBox(QWidget* parent, const QString& text) {
  return showMessage(parent, MsgIcon::Confirm, kConfirmTitle, text, MsgButtons::YesNo) == MsgResult::Yes;
}

void setMessageHandler(MessageHandler handler) { g_messageHandler = std::move(handler); }

void beep() {
  if (g_beepHandler)
    g_beepHandler();
  else
    QApplication::beep();
}

void setBeepHandler(std::function<void()> handler) { g_beepHandler = std::move(handler); }

QString getSaveFileName(QWidget* parent, const QString& filter, const QString& proposedName) {
  if (g_fileDialogHandler) return g_fileDialogHandler({parent, true, filter, proposedName});
  QFileDialog dialog(parent);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setNameFilter(qtFilter(filter));
  // An existing file is replaced without a question, and no extension is added.
  dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
  dialog.selectFile(proposedName);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().constFirst();
}

QString getOpenFileName(QWidget* parent, const QString& filter, const QString& proposedName) {
  if (g_fileDialogHandler) return g_fileDialogHandler({parent, false, filter, proposedName});
  QFileDialog dialog(parent);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setNameFilter(qtFilter(filter));
  if (!proposedName.isEmpty() && !proposedName.contains(QLatin1Char('*')))
    dialog.selectFile(proposedName);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().constFirst();
}

void setFileDialogHandler(FileDialogHandler handler) { g_fileDialogHandler = std::move(handler); }

std::optional<QFont> getFont(QWidget* parent, const QFont& initial) {
  if (g_fontDialogHandler) return g_fontDialogHandler({parent, initial});
  QFontDialog dialog(initial, parent);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.selectedFont();
}

void setFontDialogHandler(FontDialogHandler handler) { g_fontDialogHandler = std::move(handler); }

int execModal(QDialog* dialog) {
  if (g_modalHandler) return g_modalHandler(dialog);
  return dialog->exec();
}

void setModalHandler(ModalHandler handler) { g_modalHandler = std::move(handler); }

void resetWidgetSeams() {
  g_messageHandler = nullptr;
  g_beepHandler = nullptr;
  g_fileDialogHandler = nullptr;
  g_fontDialogHandler = nullptr;
  g_modalHandler = nullptr;
}

}  // namespace seams
