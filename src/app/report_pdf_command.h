#pragma once
// korvex --report-pdf --out FILE: draws an emission report's table, read as
// JSON (emissions/report_table_json.h) from the standard input, into a PDF
// exactly as the report dialog's "Сохранить PDF..." does (the print layer's
// own drawing, A4 landscape). The web view runs it as a process of its own,
// so that the service links no Gui or Print Support and a report's drawing
// never shares a thread with measuring. Needs a QGuiApplication (offscreen
// will do); reads no settings and no database.
// Exit status 0 when written, 1 when drawing failed, 2 for a wrong command
// line or input that is no report table.

#include <QIODevice>
#include <QString>
#include <QStringList>
#include <functional>

// `arguments` after the program's name; `warn` gets what went wrong
// (stderr by default).
int runReportPdf(const QStringList& arguments, QIODevice& input,
                 const std::function<void(const QString&)>& warn = {});
