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
#include <optional>

class QDialog;
class QWidget;

namespace seams {

// ---- clock -----------------------------------------------------------------
// Date-times of the program are doubles counting days since 30 December 1899,
// the fraction being the time of day, in local time.
QDateTime CurrentDateTime();
double Now();
double ToDateTime(const QDateTime& local);
QDateTime FromDateTime(double dateTime);
void SetClock(std::function<QDateTime()> clock);  // empty function: the real clock

// ---- locale ----------------------------------------------------------------
QLocale Locale();                      // QLocale::system() unless replaced
void SetLocale(const QLocale& locale);
void ResetLocale();

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

MsgResult ShowMessage(QWidget* parent, MsgIcon icon, const QString& title,
                      const QString& text, MsgButtons buttons = MsgButtons::Ok);
// Shorthands with the standard English titles.
void ErrorBox(QWidget* parent, const QString& text);                       // "Error"
void WarningBox(QWidget* parent, const QString& text);                     // "Warning"
bool ConfirmBox(QWidget* parent, const QString& text);                     // "Confirm", Yes = true
void SetMessageHandler(MessageHandler handler);  // empty: real QMessageBox

// ---- beep ------------------------------------------------------------------
void Beep();
void SetBeepHandler(std::function<void()> handler);

// ---- file dialogs ------------------------------------------------------------
// `filter` is written as "Description(*.ext)|*.ext"; an empty result means cancel.
struct FileDialogRequest {
  QWidget* parent;
  bool save;
  QString filter;
  QString proposedName;
};
using FileDialogHandler = std::function<QString(const FileDialogRequest&)>;
QString GetSaveFileName(QWidget* parent, const QString& filter, const QString& proposedName);
QString GetOpenFileName(QWidget* parent, const QString& filter, const QString& proposedName);
void SetFileDialogHandler(FileDialogHandler handler);

// ---- font dialog -------------------------------------------------------------
// The font dialog preset with `initial`; nullopt means cancel.
struct FontDialogRequest {
  QWidget* parent;
  QFont initial;
};
using FontDialogHandler = std::function<std::optional<QFont>(const FontDialogRequest&)>;
std::optional<QFont> GetFont(QWidget* parent, const QFont& initial);
void SetFontDialogHandler(FontDialogHandler handler);

// ---- modal dialogs -----------------------------------------------------------
// Returns the dialog's result (QDialog::Accepted or Rejected).
using ModalHandler = std::function<int(QDialog*)>;
int ExecModal(QDialog* dialog);
void SetModalHandler(ModalHandler handler);

// ---- executable path -------------------------------------------------------------
QString ExecutablePath();
void SetExecutablePath(const QString& path);  // empty: QCoreApplication::applicationFilePath()

// Removes every replacement, as at program start.
void ResetAll();

}  // namespace seams
