#include "app/report_pdf_command.h"

#include <QPrinter>
#include <cstdio>

#include "emissions/report_table_json.h"
#include "print/emission_report_print.h"

namespace {

// A month's report is some hundreds of kilobytes; far more is no report.
constexpr qint64 kMaxInputBytes = qint64(32) << 20;

}  // namespace

int runReportPdf(const QStringList& arguments, QIODevice& input, const std::function<void(const QString&)>& warnLine) {
  const auto warn = warnLine ? warnLine : [](const QString& l) {
    std::fputs((l + QLatin1Char('\n')).toUtf8().constData(), stderr);
    std::fflush(stderr);
  };
  const QString usage = QStringLiteral(u"korvex --report-pdf --out ФАЙЛ.pdf < таблица-отчёта.json\n"
                                       u"  рисует отчёт о выбросах в PDF, как \"Сохранить PDF...\" окна отчёта");
  QString out;
  for (int i = 0; i < arguments.size(); ++i) {
    const QString& a = arguments[i];
    if (a == QLatin1String("--report-pdf")) continue;
    if (a == QLatin1String("--out") && i + 1 < arguments.size()) {
      out = arguments[++i];
      continue;
    }
    warn(QStringLiteral(u"Неизвестный параметр: %1\n%2").arg(a, usage));
    return 2;
  }
  if (out.isEmpty()) {
    warn(usage);
    return 2;
  }
  QByteArray json;
  // Blocking reads until the writer closes its end (an empty read).
  while (json.size() <= kMaxInputBytes) {
    const QByteArray part = input.read(kMaxInputBytes + 1 - json.size());
    if (part.isEmpty()) break;
    json += part;
  }
  if (json.size() > kMaxInputBytes) {
    warn(QStringLiteral(u"Таблица отчёта длиннее %1 МиБ").arg(kMaxInputBytes >> 20));
    return 2;
  }
  QString error;
  const std::optional<emissions::ReportTable> table = emissions::reportTableFromJson(json, &error);
  if (!table) {
    warn(QStringLiteral(u"Отчёт не прочитан: %1").arg(error));
    return 2;
  }
  QPrinter pdf(QPrinter::HighResolution);
  pdf.setOutputFormat(QPrinter::PdfFormat);
  pdf.setPageSize(QPageSize(QPageSize::A4));
  pdf.setOutputFileName(out);
  if (!printEmissionReport(pdf, *table, &error)) {
    warn(QStringLiteral(u"Отчёт не сохранён: %1: %2").arg(out, error.simplified()));
    return 1;
  }
  return 0;
}
