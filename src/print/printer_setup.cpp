#include "print/printer_setup.h"

#include <QAbstractPrintDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileSystemModel>
#include <QFontDatabase>
#include <QFontInfo>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QToolButton>

#include "platform/guarded_files.h"
#include "platform/seams.h"
#include "ui/widget_seams.h"
#include "print/printers.h"
#include "storage/settings_records.h"

const QString kNoPrinterText = QStringLiteral(
    u"Принтер не установлен!\r\nВыберите принтер или печать в файл в меню \"Выбор принтера\".");
const QString kPrinterMissingText = QStringLiteral(u"Принтер \"%1\" недоступен!");
const QString kPrintStartText =
    QStringLiteral(u"Ошибка печати!\r\nНе удалось начать печать на \"%1\".");
const QString kNewPageText = QStringLiteral(u"Ошибка печати!\r\nНе удалось начать новую страницу.");
const QString kPrintFailedText = QStringLiteral(u"Ошибка печати!");

namespace {

void setError(QString* error, const QString& text) {
  if (error) *error = text;
}

}  // namespace

bool printerReady(const QPrinter& printer, QString* error) {
  if (printer.printerState() == QPrinter::Active) {
    setError(error, kPrintFailedText);
    return false;
  }
  if (printer.outputFormat() == QPrinter::PdfFormat) {
    if (printer.outputFileName().isEmpty()) {
      setError(error, kNoPrinterText);
      return false;
    }
    // Writing it would destroy it, and closing it drop the locks of its owner.
    const QString what = guardedFile(printer.outputFileName());
    if (!what.isEmpty()) {
      setError(error, QStringLiteral(u"Ошибка печати!\r\nФайл %1 — %2 программы: в него нельзя печатать.")
                          .arg(QDir::toNativeSeparators(printer.outputFileName()), what));
      return false;
    }
    return true;
  }
  const QString name = printer.printerName();
  if (name.isEmpty()) {
    setError(error, kNoPrinterText);
    return false;
  }
  if (!seams::systemPrinterNames().contains(name)) {
    setError(error, kPrinterMissingText.arg(name));
    return false;
  }
  return true;
}

QString printStartError(const QPrinter& printer) {
  const QString target = printer.outputFormat() == QPrinter::PdfFormat ? printer.outputFileName()
                                                                       : printer.printerName();
  return kPrintStartText.arg(target);
}

PrintJobScope::PrintJobScope(QPrinter& printer)
    : printer_(printer), layout_(printer.pageLayout()), resolution_(printer.resolution()) {
  QGuiApplication::setOverrideCursor(Qt::WaitCursor);
  const QPageLayout current = printer.pageLayout();
  printer.setPageMargins(current.minimumMargins(), current.units());
}

PrintJobScope::~PrintJobScope() {
  if (printer_.printerState() != QPrinter::Active) {
    printer_.setResolution(resolution_);
    printer_.setPageLayout(layout_);
  }
  QGuiApplication::restoreOverrideCursor();
}

int execPrinterSetup(QPrinter& printer, QWidget* parent) {
  QPrintDialog dialog(&printer, parent);
  dialog.setWindowTitle(QStringLiteral(u"Настройка печати"));
  // Printer, file, paper and orientation only: the prints themselves decide
  // which pages they make.
  dialog.setOptions(QAbstractPrintDialog::PrintToFile | QAbstractPrintDialog::PrintShowPageSize);
  if (auto* buttons = dialog.findChild<QDialogButtonBox*>())
    if (QPushButton* ok = buttons->button(QDialogButtonBox::Ok)) ok->setText(QStringLiteral("OK"));
  // The output file's name completes from a listing of the folder, and "..."
  // opens a file dialog: both by names only (seams::fileIconProvider), the
  // file dialog the program's own. Done before the dialog runs: the listing
  // is taken in when the message loop runs.
  for (QFileSystemModel* model : dialog.findChildren<QFileSystemModel*>())
    model->setIconProvider(seams::fileIconProvider());
  auto* browse = dialog.findChild<QToolButton*>(QStringLiteral("fileBrowser"));
  auto* fileName = dialog.findChild<QLineEdit*>(QStringLiteral("filename"));
  if (browse) {
    QObject::disconnect(browse, &QAbstractButton::clicked, nullptr, nullptr);
    if (fileName) {
      QObject::connect(browse, &QAbstractButton::clicked, &dialog, [&dialog, fileName] {
        const QString name =
            seams::getSaveFileName(&dialog, QStringLiteral(u"Файлы PDF(*.pdf)|*.pdf"), fileName->text());
        if (!name.isEmpty()) fileName->setText(QDir::toNativeSeparators(name));
      });
    } else {
      browse->hide();  // a layout of Qt's this does not know: no dialog of Qt's own
    }
  }
  return seams::execModal(&dialog);
}

QFont protocolFont(const QString& name, int pointSize) {
  QFont font(name);
  font.setStyleHint(QFont::TypeWriter);
  font.setPointSize(pointSize >= 1 && pointSize <= 1000 ? pointSize : 8);
  return font;
}

bool choosePrintFont(QWidget* parent, PrintSettings& settings) {
  QFont current = protocolFont(settings.fontName, settings.fontSize);
  // A font that is not installed prints in its substitute; the dialog shows
  // that one, so that confirming it keeps the print as it is instead of
  // landing on the dialog's own first choice.
  if (!QFontDatabase::hasFamily(current.family())) current.setFamily(QFontInfo(current).family());
  const std::optional<QFont> chosen = seams::getFont(parent, current);
  if (!chosen) return false;
  int size = chosen->pointSize();
  if (size <= 0) size = qRound(chosen->pointSizeF());
  if (size <= 0) size = settings.fontSize;
  ShortString30 name{};
  if (!setShortString(name, chosen->family())) {
    seams::warningBox(parent, QStringLiteral(u"Имя шрифта \"%1\" не может быть сохранено!\r\n"
                                             u"Выберите другой шрифт.")
                                  .arg(chosen->family()));
    return false;
  }
  settings.fontName = shortStringText(name);
  settings.fontSize = size;
  return true;
}
