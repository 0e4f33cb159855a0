#include "ui/widget_seams.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QFileIconProvider>
#include <QFontDialog>
#include <QFontMetrics>
#include <QGridLayout>
#include <QMessageBox>
#include <QMimeDatabase>
#include <QPushButton>
#include <algorithm>

#include "platform/guarded_files.h"

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

// Never opens a file: folders and files get the style's icons, a file's type
// comes from its name.
class NameOnlyIconProvider final : public QFileIconProvider {
 public:
  using QFileIconProvider::icon;
  QIcon icon(const QFileInfo& info) const override {
    if (info.isRoot()) return icon(Drive);
    return icon(info.isDir() ? Folder : File);
  }
  QString type(const QFileInfo& info) const override {
    if (!info.isFile()) return QFileIconProvider::type(info);  // folders, links, drives: no reading
    const QMimeType mime = mimeDatabase_.mimeTypeForFile(info, QMimeDatabase::MatchExtension);
    return mime.comment().isEmpty() ? mime.name() : mime.comment();
  }

 private:
  QMimeDatabase mimeDatabase_;
};

// The chosen name, or empty (and the reason shown) for a file that must not
// be opened besides its owner.
QString refuseGuarded(QWidget* parent, const QString& chosen) {
  const QString what = guardedFile(chosen);
  if (what.isEmpty()) return chosen;
  warningBox(parent, QStringLiteral(u"Файл %1 — %2 программы: его нельзя выбрать.\r\nВыберите другой файл.")
                         .arg(QDir::toNativeSeparators(chosen), what));
  return {};
}

QString runFileDialog(const FileDialogRequest& request) {
  if (g_fileDialogHandler) return refuseGuarded(request.parent, g_fileDialogHandler(request));
  const std::unique_ptr<QFileDialog> dialog = fileDialog(request);
  if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty()) return {};
  return refuseGuarded(request.parent, dialog->selectedFiles().constFirst());
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
  // A box is as wide as its text needs; the title bar above it cuts a longer
  // title ("Не…орт"). A spacer keeps the box wide enough for it.
  if (!request.title.isEmpty()) {
    if (auto* grid = qobject_cast<QGridLayout*>(box->layout()))
      grid->addItem(new QSpacerItem(titleBarWidth(request.title, box->font()), 0, QSizePolicy::Fixed,
                                    QSizePolicy::Minimum),
                    grid->rowCount(), 0, 1, grid->columnCount());
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

int titleBarWidth(const QString& title, const QFont& windowFont) {
  QFont font = windowFont;
  font.setBold(true);
  if (font.pointSizeF() > 0)
    font.setPointSizeF(font.pointSizeF() * 1.4);
  else
    font.setPixelSize(font.pixelSize() * 14 / 10);
  // The window's icon, three buttons and the margins around them.
  constexpr int kTitleBarRoom = 130;
  return QFontMetrics(font).horizontalAdvance(title) + kTitleBarRoom;
}

void fitTitle(QWidget* window) {
  window->setMinimumWidth(std::max(window->minimumWidth(), titleBarWidth(window->windowTitle(), window->font())));
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

QAbstractFileIconProvider* fileIconProvider() {
  // Lives as long as the process: models keep a pointer to it.
  static auto* const provider = new NameOnlyIconProvider;
  return provider;
}

std::unique_ptr<QFileDialog> fileDialog(const FileDialogRequest& request) {
  auto dialog = std::make_unique<QFileDialog>(request.parent);
  // First, before the dialog lists anything: Qt's dialog, with names only.
  dialog->setOption(QFileDialog::DontUseNativeDialog, true);
  dialog->setIconProvider(fileIconProvider());
  dialog->setNameFilter(qtFilter(request.filter));
  if (request.save) {
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    // An existing file is replaced without a question, and no extension is added.
    dialog->setOption(QFileDialog::DontConfirmOverwrite, true);
    dialog->selectFile(request.proposedName);
  } else {
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setFileMode(QFileDialog::ExistingFile);
    if (!request.proposedName.isEmpty() && !request.proposedName.contains(QLatin1Char('*')))
      dialog->selectFile(request.proposedName);
  }
  return dialog;
}

QString getSaveFileName(QWidget* parent, const QString& filter, const QString& proposedName) {
  return runFileDialog({parent, true, filter, proposedName});
}

QString getOpenFileName(QWidget* parent, const QString& filter, const QString& proposedName) {
  return runFileDialog({parent, false, filter, proposedName});
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
