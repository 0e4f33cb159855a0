#pragma once
// The few places where the program meets the desktop: the clock, the locale,
// message boxes, the beep, file dialogs, modal dialogs and the executable's
// path. Each has a default that uses Qt and can be replaced, so a test can move
// the date past midnight, answer a message box or point the program at a
// temporary directory without touching the code that uses them.

#include <QDateTime>
#include <QFont>
#include <QLocale>
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

// ---- clock -----------------------------------------------------------------
// Date-times of the program are doubles counting days since 30 December 1899,
// the fraction being the time of day, in local time.
QDateTime currentDateTime();
double now();
double toDateTime(const QDateTime& local);
QDateTime fromDateTime(double dateTime);
void setClock(std::function<QDateTime()> clock);  // empty function: the real clock

// ---- locale ----------------------------------------------------------------
QLocale locale();  // QLocale::system() unless replaced
void setLocale(const QLocale& locale);
void resetLocale();

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

// ---- executable path -------------------------------------------------------------
QString executablePath();
void setExecutablePath(const QString& path);  // empty: QCoreApplication::applicationFilePath()

// Removes every replacement, as at program start.
void resetAll();

}  // namespace seams
