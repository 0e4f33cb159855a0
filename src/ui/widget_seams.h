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

class QDialog;
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

// ---- beep ------------------------------------------------------------------
void beep();
void setBeepHandler(std::function<void()> handler);

// ---- file dialogs ------------------------------------------------------------
// `filter` is written as "Description(*.ext)|*.ext"; an empty result means cancel.
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
