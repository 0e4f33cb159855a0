#include "print/printers.h"

#include <QPrinter>
#include <QPrinterInfo>

namespace seams {
namespace {

PrinterFactory g_printerFactory;
std::function<QStringList()> g_printerNames;

}  // namespace

std::unique_ptr<QPrinter> newPrinter() {
  if (g_printerFactory) return g_printerFactory();
  return std::make_unique<QPrinter>(QPrinter::HighResolution);
}

void setPrinterFactory(PrinterFactory factory) { g_printerFactory = std::move(factory); }

QStringList systemPrinterNames() {
  return g_printerNames ? g_printerNames() : QPrinterInfo::availablePrinterNames();
}

void setSystemPrinterNames(std::function<QStringList()> names) { g_printerNames = std::move(names); }

void resetPrinters() {
  g_printerFactory = nullptr;
  g_printerNames = nullptr;
}

}  // namespace seams
