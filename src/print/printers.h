#pragma once
// The system's printers as the program meets them: the printer it prints on
// until the operator chooses another, and the names of the installed
// printers. Like the platform's seams, each asks Qt and the system unless
// replaced, so that a test gives the same verdict on a machine with printers
// as on one without. (QPrinter lives in Qt's print support, which the
// platform layer does not use: hence here.)

#include <QStringList>
#include <functional>
#include <memory>

class QPrinter;

namespace seams {

// A new printer for the program's prints: Qt's default printer in high
// resolution (on a machine without printers, PDF output without a file).
using PrinterFactory = std::function<std::unique_ptr<QPrinter>()>;
std::unique_ptr<QPrinter> newPrinter();
void setPrinterFactory(PrinterFactory factory);  // empty: the default

// Names of the system's printers.
QStringList systemPrinterNames();
void setSystemPrinterNames(std::function<QStringList()> names);  // empty: the system's

// Removes both replacements.
void resetPrinters();

}  // namespace seams
