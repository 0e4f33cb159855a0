// The print commands of the main window, printing for real through QPrinter
// into PDF files that poppler's tools read back.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QImage>
#include <QLineEdit>
#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QToolButton>
#include <cmath>

#include "print/chart_print.h"
#include "print/printer_setup.h"
#include "print/printers.h"
#include "print/table_protocol.h"
#include "storage/settings_files.h"
#include "support/korvex_fixture.h"
#include "data/results_log.h"
#include "view/trend_chart.h"
#include "data/value_format.h"

namespace {

QByteArray run(const QString& program, const QStringList& args) {
  QProcess p;
  p.start(program, args);
  if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
    ADD_FAILURE() << program.toStdString() << " failed: " << p.readAllStandardError().toStdString();
    return {};
  }
  return p.readAllStandardOutput();
}

QString pdfInfo(const QString& pdf) { return QString::fromUtf8(run("pdfinfo", {pdf})); }

int pdfPages(const QString& pdf) {
  const auto m = QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)")).match(pdfInfo(pdf));
  return m.hasMatch() ? m.captured(1).toInt() : -1;
}

// Width and height of the first page in points.
QSizeF pdfPageSize(const QString& pdf) {
  const auto m = QRegularExpression(QStringLiteral("Page size:\\s+([\\d.]+) x ([\\d.]+) pts"))
                     .match(pdfInfo(pdf));
  return m.hasMatch() ? QSizeF(m.captured(1).toDouble(), m.captured(2).toDouble()) : QSizeF();
}

QString pdfTitle(const QString& pdf) {
  const auto m = QRegularExpression(QStringLiteral("Title:\\s+([^\\n]*)")).match(pdfInfo(pdf));
  return m.captured(1).trimmed();
}

QString pdfText(const QString& pdf) {
  return QString::fromUtf8(run("pdftotext", {"-layout", "-enc", "UTF-8", pdf, "-"}));
}

QImage pdfImage(const QString& pdf, const QString& pngBase) {
  run("pdftoppm", {"-r", "40", "-png", "-singlefile", pdf, pngBase});
  return QImage(pngBase + ".png");
}

class PrintCommandsTest : public KorvexFixture {
 protected:
  void SetUp() override {
    KorvexFixture::SetUp();
    startWithDefaults();
    printer_ = window().printer();
    printer_->setOutputFormat(QPrinter::PdfFormat);
    printer_->setOutputFileName(inDir(QStringLiteral("out.pdf")));
  }

  // Rows as a data file brings them, so the table shows these texts and the
  // chart these values.
  void fillTable(int rows) {
    results().beginLoad();
    for (int r = 1; r <= rows; ++r) {
      QStringList cells;
      cells << QString::number(r - 1) << QStringLiteral("06.12.2026")
            << QStringLiteral("10:%1:00").arg((r - 1) % 60, 2, 10, QLatin1Char('0'));
      ChannelValues v{};
      for (int c = 3; c < 15; ++c) {
        cells << QString::number(r * 16 + c);
        v[size_t(c - 3)] = r * 16 + c;
      }
      cells << QStringLiteral("Ok'");
      results().appendLoaded(v, cells.join(QLatin1Char('\t')).toStdString());
    }
    results().endLoad();
  }

  void fillChart(int points) {
    results().beginLoad();
    for (int i = 0; i < points; ++i) {
      ChannelValues v{};
      for (int c = 0; c < kChannelCount; ++c)
        v[size_t(c)] = 20 + 10 * c + 5 * std::sin(i / 5.0 + c);
      results().appendLoaded(v, {});
    }
    results().endLoad();
  }

  QString out() const { return inDir(QStringLiteral("out.pdf")); }

  QPrinter* printer_ = nullptr;
};

TEST_F(PrintCommandsTest, TheTableProtocolRunsOverSeveralPagesWithEveryLineInOrder) {
  fillTable(150);
  setNow(QDateTime(QDate(2026, 12, 6), QTime(17, 20, 31)));
  window().onPrintTableTriggered();
  EXPECT_TRUE(takeMessages().empty());
  EXPECT_EQ(printer_->pageLayout().orientation(), QPageLayout::Landscape);

  const QStringList expected = protocolLines(results(), seams::now());
  ASSERT_EQ(expected.size(), 152);
  EXPECT_EQ(pdfTitle(out()), QStringLiteral(u"Печать базы данных"));
  const QSizeF page = pdfPageSize(out());
  EXPECT_GT(page.width(), page.height());

  // The page breaks fall where the line rules put them for this font and page.
  const QFontMetrics metrics(protocolFont(QStringLiteral("Courier New"), 8), printer_);
  const QRect area = QPageLayout(printer_->pageLayout().pageSize(), QPageLayout::Landscape, {})
                         .fullRectPixels(printer_->resolution());
  const auto placed =
      layoutLines(expected, metrics.height(), area.width(), area.height(),
                  [&](QStringView t) { return metrics.horizontalAdvance(t.toString()); });
  ASSERT_EQ(placed.size(), size_t(expected.size()));  // nothing wider than the page
  const int pages = pdfPages(out());
  EXPECT_GE(pages, 3);
  EXPECT_EQ(pages, placed.back().page + 1);

  const QStringList pageTexts = pdfText(out()).split(QLatin1Char('\f'));
  ASSERT_GE(pageTexts.size(), pages);
  int next = 0;  // index into `expected` of the next line with text
  for (int p = 0; p < pages; ++p) {
    for (const QString& raw : pageTexts[p].split(QLatin1Char('\n'))) {
      const QString line = raw.simplified();
      if (line.isEmpty()) continue;
      while (next < expected.size() && expected[next].simplified().isEmpty()) ++next;
      ASSERT_LT(next, expected.size()) << "extra line " << line.toStdString();
      EXPECT_EQ(line, expected[next].simplified()) << "line " << next;
      // The line is on the page the layout put it on.
      EXPECT_EQ(p, placed[size_t(next)].page) << "line " << next;
      ++next;
    }
  }
  EXPECT_EQ(next, expected.size());
  EXPECT_EQ(expected[0], QStringLiteral(u"Потокол замеров KVX от 06.12.2026 17:20:31"));
}

TEST_F(PrintCommandsTest, TheChartFillsOneLandscapePageAndThePrinterGetsItsOrientationBack) {
  fillChart(60);
  printer_->setPageOrientation(QPageLayout::Portrait);
  const QPageLayout before = printer_->pageLayout();
  const int resolution = printer_->resolution();

  window().onPrintChartTriggered();
  EXPECT_TRUE(takeMessages().empty());
  EXPECT_EQ(printer_->pageLayout().orientation(), QPageLayout::Portrait);
  EXPECT_TRUE(printer_->pageLayout().isEquivalentTo(before));
  EXPECT_EQ(printer_->resolution(), resolution);

  EXPECT_EQ(pdfPages(out()), 1);
  EXPECT_EQ(pdfTitle(out()), QStringLiteral(u"Печать графика"));
  const QSizeF page = pdfPageSize(out());
  EXPECT_NEAR(page.width(), 841.89, 1);  // A4 across
  EXPECT_NEAR(page.height(), 595.28, 1);

  const QImage image = pdfImage(out(), inDir(QStringLiteral("chart")));
  ASSERT_FALSE(image.isNull());
  EXPECT_GT(image.width(), image.height());
  // The gradient reaches every edge (no margins), and the Tg curve is drawn in its red.
  int red = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) {
      const QColor c = image.pixelColor(x, y);
      if (c.red() > 200 && c.green() < 80 && c.blue() < 80) ++red;
    }
  EXPECT_GT(red, 100);
  const QColor topLeft = image.pixelColor(1, 1),
               bottomLeft = image.pixelColor(1, image.height() - 2);
  EXPECT_NE(topLeft, QColor(Qt::white));  // the sky-blue end of the gradient
  EXPECT_LT(topLeft.red(), bottomLeft.red());
}

TEST_F(PrintCommandsTest, TheChartOnScreenIsLaidOutForTheWindowAgainAfterPrinting) {
  fillChart(30);
  chart()->resize(600, 400);
  QCoreApplication::processEvents();
  chart()->replot(QCustomPlot::rpImmediateRefresh);
  const QRect onScreen = chart()->axisRect()->outerRect();
  window().onPrintChartTriggered();
  EXPECT_TRUE(takeMessages().empty());
  QCoreApplication::processEvents();  // the queued replot
  EXPECT_EQ(chart()->axisRect()->outerRect(), onScreen);
}

TEST_F(PrintCommandsTest, AZoomedChartPrintsTheZoomedView) {
  fillChart(200);
  window().onPrintChartTriggered();
  const QString whole = pdfText(out());
  chart()->setAxisMinMax(chart()->xAxis, 100, 120);
  chart()->refresh();
  window().onPrintChartTriggered();
  const QString zoomed = pdfText(out());
  EXPECT_TRUE(takeMessages().empty());
  // The bottom axis' labels: 0..200 in steps of 50 for the whole, 100..120 zoomed.
  EXPECT_TRUE(whole.contains(QStringLiteral("150"))) << whole.toStdString();
  EXPECT_FALSE(whole.contains(QStringLiteral("115")));
  EXPECT_TRUE(zoomed.contains(QStringLiteral("115"))) << zoomed.toStdString();
  EXPECT_FALSE(zoomed.contains(QStringLiteral("150")));
}

TEST_F(PrintCommandsTest, AfterTheTableTheChartFindsAndLeavesTheLandscapeOrientation) {
  fillTable(3);
  fillChart(10);
  printer_->setPageOrientation(QPageLayout::Portrait);
  window().onPrintTableTriggered();
  EXPECT_EQ(printer_->pageLayout().orientation(), QPageLayout::Landscape);
  window().onPrintChartTriggered();
  EXPECT_TRUE(takeMessages().empty());
  EXPECT_EQ(printer_->pageLayout().orientation(), QPageLayout::Landscape);
}

TEST_F(PrintCommandsTest, AFailedChartPrintReportsTheErrorAndStillRestoresTheOrientation) {
  fillChart(10);
  QFile blocker(inDir(QStringLiteral("blocker")));
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  const QString impossible = inDir(QStringLiteral("blocker/out.pdf"));
  printer_->setOutputFileName(impossible);
  printer_->setPageOrientation(QPageLayout::Portrait);

  window().onPrintChartTriggered();
  auto messages = takeMessages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].title, QStringLiteral("Error"));
  EXPECT_EQ(messages[0].text, kPrintStartText.arg(impossible));
  EXPECT_EQ(printer_->pageLayout().orientation(), QPageLayout::Portrait);

  // The printer is not left half-busy: the next print goes through.
  printer_->setOutputFileName(out());
  EXPECT_EQ(printer_->outputFileName(), out());
  window().onPrintChartTriggered();
  EXPECT_TRUE(takeMessages().empty());
  EXPECT_EQ(pdfPages(out()), 1);
}

// Without a printer Qt falls back to PDF output without a file; beginning a
// job there would fail and leave the printer busy for good.
TEST_F(PrintCommandsTest, WithoutAPrinterBothPrintsShowTheErrorAndThePrinterStaysUsable) {
  fillTable(3);
  fillChart(10);
  setNoPrinter(*printer_);
  window().onPrintTableTriggered();
  window().onPrintChartTriggered();
  const auto messages = takeMessages();
  ASSERT_EQ(messages.size(), 2u);
  for (const auto& m : messages) {
    EXPECT_EQ(m.icon, seams::MsgIcon::Error);
    EXPECT_EQ(m.title, QStringLiteral("Error"));
    EXPECT_EQ(m.text, kNoPrinterText);
  }
  EXPECT_EQ(printer_->printerState(), QPrinter::Idle);
  printer_->setOutputFileName(out());
  EXPECT_EQ(printer_->outputFileName(), out());
}

class FreshPrinterTest : public KorvexFixture {};

// The fixture's printer seam stands for a machine without printers, whatever
// this one has.
TEST_F(FreshPrinterTest, OnAMachineWithoutPrintersTheDefaultPrinterGivesTheErrorBox) {
  writeDefaultSettings();
  startProgram();
  EXPECT_TRUE(seams::systemPrinterNames().isEmpty());
  EXPECT_EQ(window().printer()->outputFormat(), QPrinter::PdfFormat);
  EXPECT_TRUE(window().printer()->outputFileName().isEmpty());
  window().onPrintTableTriggered();
  window().onPrintChartTriggered();
  const auto messages = takeMessages();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0].text, kNoPrinterText);
  EXPECT_EQ(messages[1].text, kNoPrinterText);
  EXPECT_NE(window().printer()->printerState(), QPrinter::Active);
}

TEST_F(FreshPrinterTest, TheProgramPrintsOnThePrinterTheSeamGives) {
  const QString file = inDir(QStringLiteral("default.pdf"));
  int made = 0;
  seams::setPrinterFactory([&] {
    ++made;
    auto printer = printerWithoutSystemPrinters();
    printer->setOutputFileName(file);
    return printer;
  });
  writeDefaultSettings();
  startProgram();
  results().beginLoad();
  results().appendLoaded(ChannelValues{}, "0\t06.12.2026\t10:00:00");
  results().endLoad();
  window().onPrintTableTriggered();
  window().onPrintChartTriggered();
  EXPECT_TRUE(takeMessages().empty());
  EXPECT_EQ(made, 1);  // one printer for the whole run
  EXPECT_EQ(window().printer()->outputFileName(), file);
  EXPECT_EQ(pdfPages(file), 1);
  EXPECT_EQ(pdfTitle(file), QStringLiteral(u"Печать графика"));
}

TEST_F(FreshPrinterTest, ThePrinterSeamsFallBackToTheSystemWhenReset) {
  seams::setSystemPrinterNames([] { return QStringList{QStringLiteral("Office")}; });
  EXPECT_EQ(seams::systemPrinterNames(), QStringList{QStringLiteral("Office")});
  seams::setPrinterFactory([] {
    auto printer = printerWithoutSystemPrinters();
    printer->setDocName(QStringLiteral("made by the test"));
    return printer;
  });
  EXPECT_EQ(seams::newPrinter()->docName(), QStringLiteral("made by the test"));
  seams::resetPrinters();
  EXPECT_EQ(seams::systemPrinterNames(), QPrinterInfo::availablePrinterNames());
  const std::unique_ptr<QPrinter> system = seams::newPrinter();
  ASSERT_NE(system, nullptr);
  EXPECT_TRUE(system->docName().isEmpty());
}

TEST_F(PrintCommandsTest, ThePrinterSetUpChangesThePrinterOnlyWhenConfirmed) {
  setNoPrinter(*printer_);
  const QString chosen = inDir(QStringLiteral("chosen.pdf"));
  QString title;
  bool confirm = false;
  modal_ = [&](QDialog* d) {
    title = d->windowTitle();
    auto* dialog = qobject_cast<QPrintDialog*>(d);
    EXPECT_TRUE(dialog && dialog->printer() == printer_);
    d->show();
    auto* printers = d->findChild<QComboBox*>(QStringLiteral("printers"));
    auto* fileName = d->findChild<QLineEdit*>(QStringLiteral("filename"));
    if (!printers || !fileName) return int(QDialog::Rejected);
    printers->setCurrentIndex(printers->count() - 1);  // "Print to File (PDF)" comes last
    fileName->setText(chosen);
    if (confirm)
      d->accept();
    else
      d->reject();
    return d->result();
  };
  window().onChoosePrinterTriggered();
  EXPECT_EQ(title, QStringLiteral(u"Настройка печати"));
  EXPECT_EQ(printer_->outputFileName(), QString());
  confirm = true;
  window().onChoosePrinterTriggered();
  EXPECT_EQ(printer_->outputFileName(), chosen);

  fillTable(3);
  window().onPrintTableTriggered();
  EXPECT_TRUE(takeMessages().empty());
  EXPECT_EQ(pdfPages(chosen), 1);
  EXPECT_TRUE(pdfText(chosen).contains(QStringLiteral(u"Потокол замеров KVX от")));
}

QByteArray iniBytes(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

TEST_F(PrintCommandsTest, AChosenFontIsStoredWithItsFirstThirtyCharactersAndItsSize) {
  const QString longName = QStringLiteral("Abcdefghij Klmnopqrst Uvwxyz0123456789");
  fontDialog_ = [&](const seams::FontDialogRequest&) {
    QFont f(longName);
    f.setPointSize(11);
    f.setBold(true);
    return std::optional<QFont>(f);
  };
  window().onChooseFontTriggered();
  ASSERT_EQ(fontDialogs_.size(), 1u);
  // Courier New, or where it is not installed the font it prints in.
  EXPECT_EQ(fontDialogs_[0].initial.family(),
            QFontInfo(protocolFont(QStringLiteral("Courier New"), 8)).family());
  EXPECT_TRUE(QFontDatabase::hasFamily(fontDialogs_[0].initial.family()));
  EXPECT_EQ(fontDialogs_[0].initial.pointSize(), 8);
  EXPECT_TRUE(takeMessages().empty());

  EXPECT_EQ(shortStringText(programRecord().printFontName), longName.left(30));
  EXPECT_EQ(+programRecord().printFontSize, 11);
  const QByteArray ini = iniBytes(inDir(QStringLiteral("korvex.ini")));
  ASSERT_EQ(ini.size(), 237);
  EXPECT_EQ(uint8_t(ini[31]), 30);
  EXPECT_EQ(ini.mid(32, 30), longName.left(30).toLatin1());
  EXPECT_EQ(ini.mid(67, 4), QByteArray("\x0b\x00\x00\x00", 4));

  // The protocol is printed in the stored, cut name.
  EXPECT_EQ(protocolFont(shortStringText(programRecord().printFontName), 11).family(),
            longName.left(30));
}

TEST_F(PrintCommandsTest, TheFontDialogStartsFromTheStoredFont) {
  const QString installed = QStringLiteral("DejaVu Sans");
  ASSERT_TRUE(QFontDatabase::hasFamily(installed));
  changePrint([&](PrintSettings& p) {
    p.fontName = installed;
    p.fontSize = 13;
  });
  window().onChooseFontTriggered();
  ASSERT_EQ(fontDialogs_.size(), 1u);
  EXPECT_EQ(fontDialogs_[0].initial.family(), installed);
  EXPECT_EQ(fontDialogs_[0].initial.pointSize(), 13);
}

TEST_F(PrintCommandsTest, ACyrillicFontNameIsStoredInWindows1251) {
  fontDialog_ = [](const seams::FontDialogRequest&) {
    QFont f(QStringLiteral(u"Шрифт"));
    f.setPointSize(9);
    return std::optional<QFont>(f);
  };
  window().onChooseFontTriggered();
  const QByteArray ini = iniBytes(inDir(QStringLiteral("korvex.ini")));
  EXPECT_EQ(uint8_t(ini[31]), 5);
  EXPECT_EQ(ini.mid(32, 5), QByteArray("\xD8\xF0\xE8\xF4\xF2"));
}

TEST_F(PrintCommandsTest, CancellingTheFontDialogChangesNothing) {
  const QByteArray before = iniBytes(inDir(QStringLiteral("korvex.ini")));
  window().onChooseFontTriggered();  // the fixture's font dialog cancels
  EXPECT_EQ(fontDialogs_.size(), 1u);
  EXPECT_EQ(shortStringText(programRecord().printFontName), QStringLiteral("Courier New"));
  EXPECT_EQ(iniBytes(inDir(QStringLiteral("korvex.ini"))), before);
  EXPECT_TRUE(takeMessages().empty());
}

TEST_F(PrintCommandsTest, AFontNameWithoutAWindows1251FormIsRefusedNotStoredAltered) {
  const QByteArray before = iniBytes(inDir(QStringLiteral("korvex.ini")));
  fontDialog_ = [](const seams::FontDialogRequest&) {
    QFont f(QStringLiteral(u"Noto Sans 日本語"));
    f.setPointSize(12);
    return std::optional<QFont>(f);
  };
  window().onChooseFontTriggered();
  const auto messages = takeMessages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].title, QStringLiteral("Warning"));
  EXPECT_TRUE(messages[0].text.contains(QStringLiteral(u"Noto Sans 日本語")));
  EXPECT_EQ(shortStringText(programRecord().printFontName), QStringLiteral("Courier New"));
  EXPECT_EQ(+programRecord().printFontSize, 8);
  EXPECT_EQ(iniBytes(inDir(QStringLiteral("korvex.ini"))), before);
}

}  // namespace

TEST_F(PrintCommandsTest, ThePrinterSetUpListsByNameAndNeverPrintsIntoTheDatabase) {
  const QString db = inDir(QStringLiteral("korvex.db"));
  ASSERT_TRUE(session().store().isWritable());
  const qint64 dbSize = QFileInfo(db).size();
  QString browsed;
  modal_ = [&](QDialog* d) {
    d->show();
    // The file name's completion lists folders as the program's dialogs do.
    const auto models = d->findChildren<QFileSystemModel*>();
    EXPECT_FALSE(models.isEmpty());
    for (QFileSystemModel* m : models) EXPECT_EQ(m->iconProvider(), seams::fileIconProvider());
    auto* printers = d->findChild<QComboBox*>(QStringLiteral("printers"));
    auto* fileName = d->findChild<QLineEdit*>(QStringLiteral("filename"));
    auto* browse = d->findChild<QToolButton*>(QStringLiteral("fileBrowser"));
    if (!printers || !fileName || !browse) return int(QDialog::Rejected);
    printers->setCurrentIndex(printers->count() - 1);
    // "..." is the program's own file dialog, which does not hand out the database.
    fileDialog_ = [&](const seams::FileDialogRequest& r) {
      browsed = r.filter;
      return db;
    };
    browse->click();
    EXPECT_NE(fileName->text(), db);
    // Typed in by hand, it is taken by the dialog but refused at printing.
    fileName->setText(db);
    d->accept();
    return d->result();
  };
  window().onChoosePrinterTriggered();
  EXPECT_EQ(browsed, QStringLiteral(u"Файлы PDF(*.pdf)|*.pdf"));
  std::vector<RecordedMessage> shown = takeMessages();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_TRUE(shown[0].text.contains(QStringLiteral(u"база данных результатов"))) << shown[0].text.toStdString();

  fillTable(3);
  window().onPrintTableTriggered();
  shown = takeMessages();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_TRUE(shown[0].text.contains(QStringLiteral(u"в него нельзя печатать"))) << shown[0].text.toStdString();
  EXPECT_EQ(QFileInfo(db).size(), dbSize);
  EXPECT_TRUE(session().store().isWritable());
}
