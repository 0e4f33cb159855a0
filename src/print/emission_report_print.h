#pragma once
// The emission report on paper or into a PDF file: landscape pages, on the
// first the title and the basis of the figures, then the table with its
// headings again on every page (each day's average in bold after its
// intervals), then the summary's tables (classification, availability,
// calibration) each with its heading, then the exceedances and the closing
// lines; each page numbered at its foot.

#include <QString>

#include "emissions/report_table.h"

class QPrinter;

// Prints `table` on `printer` (its page set-up is given back afterwards).
// False, with `error` set, on failure; `pages` gets the pages printed.
bool printEmissionReport(QPrinter& printer, const emissions::ReportTable& table, QString* error,
                         int* pages = nullptr);
