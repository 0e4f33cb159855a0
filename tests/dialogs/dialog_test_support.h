#pragma once
// Small helpers of the dialog tests: typing into a control as the keyboard
// does (any script, not only Latin-1), and looking at the settings files.
// Multi-byte fields of the packed records are compared as values (+field):
// EXPECT_EQ would bind a reference to a misaligned member.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <functional>
#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QString>
#include <QWidget>
#include <cstring>

#include "support/test_files.h"

namespace dialog_test {

// A modal-dialog handler for the fixture's `modal_`: shows the dialog of type
// `Dialog`, lets `use` work its controls and click a button, and returns the
// dialog's result as exec() would.
template <typename Dialog>
std::function<int(QDialog*)> working(std::function<void(Dialog*)> use) {
  return [use](QDialog* d) {
    auto* form = qobject_cast<Dialog*>(d);
    EXPECT_NE(form, nullptr);
    if (form) {
      form->show();
      use(form);
      form->hide();
    }
    return d->result();
  };
}

// Sends a key press and release to `target`, as the focus widget receives them.
inline void key(QWidget* target, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier,
                const QString& text = QString()) {
  QKeyEvent press(QEvent::KeyPress, key, modifiers, text);
  QApplication::sendEvent(target, &press);
  QKeyEvent release(QEvent::KeyRelease, key, modifiers, text);
  QApplication::sendEvent(target, &release);
}

// Types `text` character by character.
inline void typeText(QWidget* target, const QString& text) {
  for (QChar c : text) {
    const int code = c.isLetterOrNumber() || c.isPunct() || c.isSpace() ? c.toUpper().unicode() : 0;
    key(target, code, Qt::NoModifier, QString(c));
  }
}

inline QByteArray fileBytes(const QString& path) { return test_files::readAll(path); }

inline QDateTime fileTime(const QString& path) { return QFileInfo(path).lastModified(); }

// A control of a dialog by its name.
template <typename T>
T* control(const QObject* dialog, const char* name) {
  T* found = dialog->findChild<T*>(QLatin1String(name));
  if (!found) ADD_FAILURE() << "no control " << name;
  return found;
}

template <typename T>
T valueAt(const QByteArray& bytes, int offset) {
  T value{};
  if (offset + int(sizeof(T)) <= bytes.size()) std::memcpy(&value, bytes.constData() + offset, sizeof(T));
  return value;
}

}  // namespace dialog_test
