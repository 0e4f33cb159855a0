#pragma once
// The places where the program meets the desktop: message boxes, the beep,
// file dialogs, the font dialog and modal dialogs. Each has a default that
// uses Qt Widgets and can be replaced, so a test can answer a message box or
// a file dialog without touching the code that uses them. Only the window's
// thread uses them; the measuring core never does.

#include <QFont>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

class QAbstractFileIconProvider;
class QDialog;
class QFileDialog;
class QMessageBox;
class QWidget;

namespace seams {

// ---- message boxes -----------------------------------------------------------
enum class MsgIcon { None, Error, Warning, Confirm };
enum class MsgButtons { Ok, YesNo };
enum class MsgResult { Ok, Yes, No };

struct MessageRequest {
  QWidget* parent;
  MsgIcon icon;
  QString title;
  QString text;
  MsgButtons buttons;
};
using MessageHandler = std::function<MsgResult(const MessageRequest&)>;

MsgResult showMessage(QWidget* parent, MsgIcon icon, const QString& title,
                      const QString& text, MsgButtons buttons = MsgButtons::Ok);
// Shorthands with the standard English titles.
void errorBox(QWidget* parent, const QString& text);                       // "Error"
void warningBox(QWidget* parent, const QString& text);                     // "Warning"
bool confirmBox(QWidget* parent, const QString& text);                     // "Confirm", Yes = true
void setMessageHandler(MessageHandler handler);  // empty: real QMessageBox

// The standard titles of the shorthands.
QString errorTitle();
QString warningTitle();

// The real box showMessage shows without a handler, built but not shown. A
// title other than the standard ones says what happened ("Не могу открыть
// порт"), and the window manager cuts a title to the width of a box made for
// a short text, or shows none at all: such a title is repeated as the first
// line of the text.
std::unique_ptr<QMessageBox> messageBox(const MessageRequest& request);

// How wide a window must be for the window manager to show `title` whole:
// the title in a title bar's font (bold, larger than the window's) and room
// for the window's icon and buttons. The boxes above and the dialogs with
// long titles are made at least this wide.
int titleBarWidth(const QString& title, const QFont& windowFont);
// Makes `window` at least titleBarWidth() of its title wide.
void fitTitle(QWidget* window);

// ---- beep ------------------------------------------------------------------
void beep();
void setBeepHandler(std::function<void()> handler);

// ---- file dialogs ------------------------------------------------------------
// `filter` is written as "Description(*.ext)|*.ext"; an empty result means cancel.
// A file the program keeps locked (platform/guarded_files.h) is never handed
// out: a box says why, and the dialog counts as cancelled.
struct FileDialogRequest {
  QWidget* parent;
  bool save;
  QString filter;
  QString proposedName;
};
using FileDialogHandler = std::function<QString(const FileDialogRequest&)>;
QString getSaveFileName(QWidget* parent, const QString& filter, const QString& proposedName);
QString getOpenFileName(QWidget* parent, const QString& filter, const QString& proposedName);
void setFileDialogHandler(FileDialogHandler handler);

// The real dialog the two show without a handler, built but not shown: Qt's
// own dialog (a desktop's dialog runs in this process and reads files as it
// likes), listing with fileIconProvider().
std::unique_ptr<QFileDialog> fileDialog(const FileDialogRequest& request);
// Icons and types of files by their names only. Qt's own tells a file's type
// by reading its first bytes, and closing that descriptor drops the locks the
// process holds on the file (SQLite's on the results database among them).
// Every file listing of the program uses this one.
QAbstractFileIconProvider* fileIconProvider();

// ---- font dialog -------------------------------------------------------------
// The font dialog preset with `initial`; nullopt means cancel.
struct FontDialogRequest {
  QWidget* parent;
  QFont initial;
};
using FontDialogHandler = std::function<std::optional<QFont>(const FontDialogRequest&)>;
std::optional<QFont> getFont(QWidget* parent, const QFont& initial);
void setFontDialogHandler(FontDialogHandler handler);

// ---- modal dialogs -----------------------------------------------------------
// Returns the dialog's result (QDialog::Accepted or Rejected).
using ModalHandler = std::function<int(QDialog*)>;
int execModal(QDialog* dialog);
void setModalHandler(ModalHandler handler);

// Removes every replacement of the desktop's seams.
void resetWidgetSeams();

}  // namespace seams
