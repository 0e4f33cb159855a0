#pragma once
// The emission report on paper or into a PDF file: landscape pages, on the
// first the title and the basis of the figures, then the table with its
// headings again on every page (each day's average in bold after its
// intervals), then the exceedances; each page numbered at its foot.

#include <QString>
#include <QVector>

#include "emissions/report_table.h"

class QPrinter;

// Where each row of the table goes: rows per page, the page's first row
// first. The first page holds `firstPageRows` of them, the others
// `pageRows`; the exceedance lines follow on the last page when
// `tailLines` of them fit there, else on new pages of `pageRows` lines.
// Returns the number of pages.
int emissionReportPages(int rows, int firstPageRows, int pageRows, int tailLines);

// Prints `table` on `printer` (its page set-up is given back afterwards).
// False, with `error` set, on failure; `pages` gets the pages printed.
bool printEmissionReport(QPrinter& printer, const emissions::ReportTable& table, QString* error,
                         int* pages = nullptr);
