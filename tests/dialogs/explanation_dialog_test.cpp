// "Как получено значение" opened from the emission report's table: a double
// click on an interval shows its results for the component of the column
// clicked, with the rule and the validated value below; another component
// is a choice away; the CSV written is the interval's explanation. A day's
// row shows its intervals.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QDateEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>

#include "dialog_test_support.h"
#include "dialogs/emission_report_dialog.h"
#include "dialogs/explanation_dialog.h"
#include "emissions/explanation.h"
#include "support/korvex_fixture.h"

using namespace dialog_test;

namespace {

const QDate kDay(2025, 6, 3);

class ExplanationDialogTest : public KorvexFixture {
 protected:
  void SetUp() override {
    KorvexFixture::SetUp();
    cfg_.zone = QTimeZone::utc();
    cfg_.resultPeriodSeconds = 60;
    cfg_.o2RefByFuel = {3};
    cfg_.validation.profile = emissions::RegulationProfile::WasteIncineration;
    cfg_.validation.dailyLimit = {50.0, 200.0, std::nullopt, std::nullopt};
    cfg_ = cfg_.sanitized();
    limits_[emissions::Component::NOx] = {400, 200};
    // A day a result a minute, NOx 150 mg/m3; the CO sensor faulty from 10:00 to 10:20.
    const qint64 start = QDateTime(kDay, QTime(0, 0), QTimeZone::utc()).toMSecsSinceEpoch();
    for (int m = 0; m < 1440; ++m) {
      Result r;
      r.utcMs = start + qint64(m) * 60000;
      r.mode = WorkMode::Continuous;
      r.values[channel::O2] = 3;
      r.values[channel::CO] = 8;
      r.values[channel::NO] = 150 / emissions::kMgPerPpmNO2;
      if (m >= 600 && m < 620) r.faultBits = 0x0008;
      results_.append(r);
    }
  }

  void openReport(EmissionReportDialog& d) {
    d.setSource(
        // The report comes back as the session's reader hands it: shown when made.
        [this, &d](const QDate& from, const QDate& to) {
          d.showReport(emissions::EmissionReport::forPeriod(emissions::ReportPeriod::Days, from, to,
                                                            emissions::computeDays(results_, cfg_, from, to), limits_,
                                                            cfg_.validation));
        },
        30);
    d.setExplainSource([this](const emissions::ReportRow& row) -> QVector<emissions::AverageExplanation> {
      if (row.kind == emissions::ReportRow::Kind::Day)
        return emissions::explainDay(emissions::computeDays(results_, cfg_, row.date, row.date).value(0), cfg_);
      return emissions::explainInterval(results_, row.startUtcMs, cfg_);
    });
    d.setDays({kDay});
    ASSERT_TRUE(d.build());
  }

  emissions::AveragingConfig cfg_;
  emissions::AlarmLimits limits_;
  QVector<Result> results_;
};

TEST_F(ExplanationDialogTest, AnIntervalsResultsAndRuleOpenFromTheReportAndGoToCsv) {
  EmissionReportDialog report;
  openReport(report);
  auto* view = control<QTableView>(&report, "ReportView");
  ASSERT_EQ(view->model()->rowCount(), 48 + 1);
  // The NOx columns of the 10:00 row: measured, validated, verdict.
  const emissions::ReportTable& table = report.table();
  int noxColumn = -1;
  for (int c = 0; c < table.judgedComponent.size() && noxColumn < 0; ++c)
    if (table.judgedComponent[c] == emissions::index(emissions::Component::NOx)) noxColumn = c;
  ASSERT_GT(noxColumn, 0);
  EXPECT_EQ(view->model()->index(20, noxColumn + 1).data().toString(), QStringLiteral("110,0"));

  const QString csvPath = inDir(QStringLiteral("explained.csv"));
  fileDialog_ = [&](const seams::FileDialogRequest&) { return csvPath; };
  int shown = 0;
  modal_ = working<ExplanationDialog>([&](ExplanationDialog* d) {
    ++shown;
    EXPECT_EQ(d->objectName(), QStringLiteral("FormExplanation"));
    EXPECT_EQ(d->component(), emissions::Component::NOx);
    EXPECT_EQ(d->rowCount(), 30);
    const QString rule = control<QPlainTextEdit>(d, "TextRule")->toPlainText();
    EXPECT_TRUE(rule.contains(QStringLiteral(u"max(0; 150,00 − 40,00) = 110,00 мг/м³"))) << rule.toStdString();
    auto* results = control<QTableView>(d, "ExplanationView");
    EXPECT_EQ(results->model()->index(0, 1).data().toString(), QStringLiteral(u"НП"));  // the fault word
    EXPECT_EQ(results->model()->index(0, 8).data().toString(), QStringLiteral(u"нет: неисправность"));
    EXPECT_EQ(results->model()->index(25, 8).data().toString(), QStringLiteral(u"да"));

    control<QComboBox>(d, "ComboBoxComponent")->setCurrentIndex(emissions::index(emissions::Component::CO));
    EXPECT_EQ(d->component(), emissions::Component::CO);
    EXPECT_TRUE(control<QPlainTextEdit>(d, "TextRule")->toPlainText().contains(QStringLiteral(u"Интервал недостоверен")));
    control<QPushButton>(d, "ButtonCsv")->click();
  });
  ASSERT_TRUE(report.explainRow(20, noxColumn + 1));
  EXPECT_EQ(shown, 1);
  ASSERT_EQ(fileDialogs_.size(), 1u);
  EXPECT_TRUE(fileDialogs_[0].proposedName.endsWith(QStringLiteral("explanation-2025-06-03-1000.csv")));
  EXPECT_EQ(fileBytes(csvPath),
            emissions::explanationCsv(emissions::explainInterval(results_, report.report().rows()[20].startUtcMs, cfg_),
                                      report.csvFormat()));
  EXPECT_TRUE(takeMessages().empty());

  // The day's row: its intervals.
  modal_ = working<ExplanationDialog>([&](ExplanationDialog* d) {
    ++shown;
    EXPECT_EQ(d->rowCount(), 48);
    EXPECT_EQ(d->component(), emissions::Component::CO);  // the period column
  });
  ASSERT_TRUE(report.explainRow(48, 0));
  EXPECT_EQ(shown, 2);
}

}  // namespace
