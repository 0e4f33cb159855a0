#pragma once
// The emission report's table as JSON, whole: what the web view hands to the
// program that draws its PDF (korvex --report-pdf), so that the PDF shows
// exactly the table the page and the CSV were made from, whichever database
// it came from, and the drawing process reads no database at all.

#include <QByteArray>
#include <QString>
#include <optional>

#include "emissions/report_table.h"

namespace emissions {

QByteArray reportTableToJson(const ReportTable& table);
// None, with `error`, for anything that is not such a table (wrong types,
// a row's judgements not one per component, an unknown exceedance).
std::optional<ReportTable> reportTableFromJson(const QByteArray& json, QString* error);

}  // namespace emissions
