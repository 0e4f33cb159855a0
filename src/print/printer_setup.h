#pragma once
// The current printer: whether a job can start on it, the set-up that a job
// makes for itself and gives back afterwards, the printer set-up dialog and
// the choice of the print font.

#include <QFont>
#include <QPageLayout>
#include <QString>

#include "storage/settings_values.h"

class QPrinter;
class QWidget;

// Texts of the print errors.
extern const QString kNoPrinterText;
extern const QString kPrinterMissingText;  // %1: printer name
extern const QString kPrintStartText;      // %1: printer name or file
extern const QString kNewPageText;
extern const QString kPrintFailedText;

// True when a job can start on `printer`: a printer of the system is chosen,
// or the output goes to a file. Qt falls back to PDF output without a file
// when the system has no printer; beginning a job there fails and leaves the
// printer unusable for the rest of the run, so that case is refused here.
bool printerReady(const QPrinter& printer, QString* error);

// The text of a failed start of a job on `printer`.
QString printStartError(const QPrinter& printer);

// For the length of one job: the printable area as the page (no margins of
// the program's own), a wait cursor, and the printer's page layout and
// resolution given back afterwards.
class PrintJobScope {
 public:
  explicit PrintJobScope(QPrinter& printer);
  ~PrintJobScope();
  PrintJobScope(const PrintJobScope&) = delete;
  PrintJobScope& operator=(const PrintJobScope&) = delete;

 private:
  QPrinter& printer_;
  QPageLayout layout_;
  int resolution_;
};

// The printer set-up dialog on `printer`: what the operator picks there
// (printer or file, paper, orientation) stays for the following prints.
// Returns the dialog's result.
int execPrinterSetup(QPrinter& printer, QWidget* parent);

// The print font of the table protocol from the stored name and size; a
// size the settings file holds out of any sensible range prints at 8 points.
QFont protocolFont(const QString& name, int pointSize);

// Shows the font dialog preset with the print font (or, when that is not
// installed, the font it prints in); on confirmation stores the name (its
// first 30 characters) and the size in points in `settings`. A name that the
// settings file cannot hold unaltered is refused with a warning and nothing
// changes. True when the font was taken (the caller hands the settings on).
bool choosePrintFont(QWidget* parent, PrintSettings& settings);
