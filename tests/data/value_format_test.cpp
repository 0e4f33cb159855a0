#include <gtest/gtest.h>

#include <QDateTime>
#include <cmath>
#include <limits>

#include "platform/seams.h"
#include "data/value_format.h"

namespace {

using namespace channel;

class ValueFormatTest : public ::testing::Test {
 protected:
  void SetUp() override { seams::setLocale(QLocale(QLocale::Russian, QLocale::Russia)); }
  void TearDown() override { seams::resetLocale(); }
};

struct FormCase {
  double value;
  const char* text;
};

TEST_F(ValueFormatTest, PlainFormKeepsFifteenSignificantDigitsWithTheLocaleSeparator) {
  const FormCase cases[] = {
      {12.3, "12,3"},
      {250, "250"},
      {0.00005, "5E-5"},
      {-0.00005, "-5E-5"},
      {0, "0"},
      {-0.0, "0"},
      {-12.3, "-12,3"},
      {0.1 + 0.2, "0,3"},  // binary noise beyond 15 digits disappears
      {1.0 / 3, "0,333333333333333"},
      {2.0 / 3, "0,666666666666667"},
      {0.0001, "0,0001"},
      {0.000123, "0,000123"},
      {0.00001234, "1,234E-5"},
      {123456789012345.0, "123456789012345"},
      {1e15, "1E15"},
      {1234567890123456.0, "1,23456789012346E15"},
      {1e100, "1E100"},
      {9999, "9999"},
      {32768.5, "32768,5"},
  };
  for (const FormCase& c : cases) EXPECT_EQ(plainForm(c.value), QString::fromUtf8(c.text)) << c.value;
}

TEST_F(ValueFormatTest, ShortFormKeepsFourDigitsAndPadsTheExponentToThree) {
  const FormCase cases[] = {
      {12.3456, "12,35"},  {1234.5, "1235"},     {12345, "1,235E004"}, {0.00005, "5E-005"},
      {9999.5, "1E004"},   {99999, "1E005"},     {-12345, "-1,235E004"}, {1e-10, "1E-010"},
      {0.5, "0,5"},        {21, "21"},           {1.41, "1,41"},       {1.3726, "1,373"},
      {10.75, "10,75"},    {0.00012346, "0,0001235"}, {1e120, "1E120"},
  };
  for (const FormCase& c : cases) EXPECT_EQ(shortForm(c.value), QString::fromUtf8(c.text)) << c.value;
}

TEST_F(ValueFormatTest, NumberFormsFollowTheLocalesDecimalSeparator) {
  seams::setLocale(QLocale(QLocale::English, QLocale::UnitedStates));
  EXPECT_EQ(plainForm(12.3), QStringLiteral("12.3"));
  EXPECT_EQ(shortForm(12345), QStringLiteral("1.235E004"));
  EXPECT_EQ(valueToText(6.1, true, 0, 30), QStringLiteral("6.1"));
}

TEST_F(ValueFormatTest, SpecialCodesShowTheirMarkers) {
  EXPECT_EQ(valueToText(32768, false, 0, 99999), QStringLiteral(u"перег."));
  EXPECT_EQ(valueToText(32769, false, 0, 9999), QStringLiteral(u"ошиб."));
  EXPECT_EQ(valueToText(32770, false, 0, 999), QStringLiteral("-----"));
  // O2 is stored in percent: the code divided by 100, as the decoder makes it.
  EXPECT_EQ(valueToText(32768 / 100.0, true, 0, 30), QStringLiteral(u"перег."));
  EXPECT_EQ(valueToText(32769 / 100.0, true, 0, 30), QStringLiteral(u"ошиб."));
  EXPECT_EQ(valueToText(32770 / 100.0, true, 0, 30), QStringLiteral("-----"));
  // Only the exact codes are markers.
  EXPECT_EQ(valueToText(32768.5, false, 0, 99999), QStringLiteral("32768,5"));
  EXPECT_EQ(valueToText(32771, false, 0, 99999), QStringLiteral("32771"));
}

TEST_F(ValueFormatTest, ReadingsOutsideTheRangeShowTheNearerBound) {
  EXPECT_EQ(valueToText(10000, false, 0, 9999), QStringLiteral("9999"));  // NO
  EXPECT_EQ(valueToText(1500, false, 0, 999), QStringLiteral("999"));     // NO2
  EXPECT_EQ(valueToText(-35, false, -20, 999), QStringLiteral("-20"));    // Tg
  EXPECT_EQ(valueToText(150, false, -20, 99), QStringLiteral("99"));      // Ta
  EXPECT_EQ(valueToText(31.5, true, 0, 30), QStringLiteral("30"));        // O2 in percent
  EXPECT_EQ(valueToText(-1, false, 0, 99999), QStringLiteral("0"));
  EXPECT_EQ(valueToText(185, false, -20, 999), QStringLiteral("185"));
  EXPECT_EQ(valueToText(6.1, true, 0, 30), QStringLiteral("6,1"));
}

TEST_F(ValueFormatTest, FaultBitsShowAsHexOrOk) {
  EXPECT_EQ(faultBitsText(0x12), QStringLiteral("E0012"));
  EXPECT_EQ(faultBitsText(0), QStringLiteral("Ok'"));
  EXPECT_EQ(faultBitsText(0x1), QStringLiteral("E0001"));
  EXPECT_EQ(faultBitsText(0xBEEF), QStringLiteral("EBEEF"));
  EXPECT_EQ(faultBitsText(0x12345), QStringLiteral("E12345"));
}

TEST_F(ValueFormatTest, DateAndTimeUseTheShortDateAndTheLongTimeWithoutZone) {
  const double t = seams::toDateTime(QDateTime(QDate(2026, 12, 6), QTime(17, 5, 12)));
  EXPECT_EQ(shortDateText(t), QStringLiteral("06.12.2026"));
  EXPECT_EQ(longTimeText(t), QStringLiteral("17:05:12"));
  // The long format of this locale names a time zone; the table never shows one.
  EXPECT_TRUE(seams::locale().timeFormat(QLocale::LongFormat).contains(QLatin1Char('t')));
  seams::setLocale(QLocale(QLocale::English, QLocale::UnitedStates));
  EXPECT_FALSE(longTimeText(t).contains(QLatin1Char('t'), Qt::CaseInsensitive));
  EXPECT_TRUE(longTimeText(t).startsWith(QStringLiteral("5:05:12"))) << longTimeText(t).toStdString();
}

TEST_F(ValueFormatTest, CaptionNamesSevenMeasuredChannels) {
  Measurement m;
  m[Tg] = 185;
  m[O2] = 6.1;
  m[CO] = 42;
  m[NO] = 118;
  m[NO2] = 3;
  m[SO2] = 0;
  m[H2S] = 32768;
  m[CO2] = 10.9;
  m[NOx] = 121;
  m[Qa] = 7.5;
  m[Alf] = 1.41;
  m[Ta] = 21;
  const QString caption = measurementCaption(m);
  EXPECT_EQ(caption, QStringLiteral(u"Korvex (Tg:185; O2:6,1; CO:42; NO:118; NO2:3; SO2:0; H2S:перег.)"));
  for (const char* absent : {"CO2", "NOx", "Qa", "Alf", "Ta"})
    EXPECT_FALSE(caption.contains(QLatin1String(absent))) << absent;
}

TEST_F(ValueFormatTest, CaptionClampsLikeTheTable) {
  Measurement m;
  m[Tg] = -35;
  m[O2] = 32769 / 100.0;
  m[CO] = 120000;
  m[NO] = 10000;
  m[NO2] = 1500;
  m[SO2] = 32770;
  m[H2S] = 5;
  EXPECT_EQ(measurementCaption(m),
            QStringLiteral(u"Korvex (Tg:-20; O2:ошиб.; CO:99999; NO:9999; NO2:999; SO2:-----; H2S:5)"));
}

TEST_F(ValueFormatTest, PlottedValueOfAChannel) {
  struct Case {
    double value;
    bool scaled;
    double min, max, plotted;
  };
  const Case cases[] = {
      {32768 / 100.0, true, 0, 30, 0},   // O2 overload code
      {32769 / 100.0, true, 0, 30, 0},   // O2 error code
      {30001, false, 0, 30000, 0},       // CO above the chart's range
      {30000, false, 0, 30000, 30000},
      {-50, false, -20, 999, -20},       // Tg below the range
      {120, false, -20, 99, 0},          // Ta above the range
      {32769, false, 0, 99999, 0},       // a code over a wide range still plots 0
      {32768, false, 0, 99999, 32768},   // the overload code itself is a number here
      {6.1, true, 0, 30, 6.1},
      {-1, false, 0, 9999, 0},
  };
  for (const Case& c : cases)
    EXPECT_DOUBLE_EQ(valueToChart(c.value, c.scaled, c.min, c.max), c.plotted) << c.value;
}

TEST_F(ValueFormatTest, ResultRowMarksTheDerivedColumnsWhenO2CarriesACode) {
  Measurement m;
  m[Tg] = 180;
  m[O2] = 32769 / 100.0;
  m[CO] = 40;
  m[NO] = 100;
  m[NO2] = 2;
  m[CO2] = 3.5;
  m[NOx] = 102.25;
  m[Qa] = 9.5;
  m[Alf] = 1.5;
  m[Ta] = 20;
  const double t = seams::toDateTime(QDateTime(QDate(2026, 12, 6), QTime(17, 5, 12)));
  const QStringList row = resultCells(m.values, m.faultBits, t, 7);
  ASSERT_EQ(row.size(), 16);
  EXPECT_EQ(row[0], QStringLiteral("7"));
  EXPECT_EQ(row[4], QStringLiteral(u"ошиб."));
  EXPECT_EQ(row[10], QStringLiteral("-----"));
  EXPECT_EQ(row[11], QStringLiteral("102,25"));
  EXPECT_EQ(row[12], QStringLiteral("-----"));
  EXPECT_EQ(row[13], QStringLiteral("-----"));

  m[O2] = 6.1;
  m[CO2] = 10.7512;
  m[Qa] = 12345;
  m[Alf] = 1.41;
  const QStringList plain = resultCells(m.values, m.faultBits, t, 8);
  EXPECT_EQ(plain[10], QStringLiteral("10,75"));
  EXPECT_EQ(plain[12], QStringLiteral("1,235E004"));
  EXPECT_EQ(plain[13], QStringLiteral("1,41"));
}

TEST_F(ValueFormatTest, NonNumbersAreWrittenAsTheyAreNamed) {
  EXPECT_EQ(plainForm(std::numeric_limits<double>::quiet_NaN()), QStringLiteral("NAN"));
  EXPECT_EQ(shortForm(std::numeric_limits<double>::infinity()), QStringLiteral("INF"));
  EXPECT_EQ(shortForm(-std::numeric_limits<double>::infinity()), QStringLiteral("-INF"));
}

TEST_F(ValueFormatTest, ColumnFormsHoldTheWidestTextsOfEachColumn) {
  const ResultTexts texts;
  const auto has = [&texts](int column, const QString& text) { return texts.columnForms(column).contains(text); };
  EXPECT_TRUE(has(0, QStringLiteral("9999999")));
  EXPECT_TRUE(has(1, QStringLiteral("28.12.2000")));
  EXPECT_TRUE(has(2, QStringLiteral("23:59:59")));
  EXPECT_EQ(texts.columnForms(2).size(), 24);
  EXPECT_TRUE(has(3, QStringLiteral("-20")));
  EXPECT_TRUE(has(3, QStringLiteral("999")));
  EXPECT_TRUE(has(4, QStringLiteral("29,99")));
  EXPECT_TRUE(has(5, QStringLiteral("99999")));
  EXPECT_TRUE(has(9, QStringLiteral(u"перег.")));
  EXPECT_TRUE(has(9, QStringLiteral(u"ошиб.")));
  EXPECT_TRUE(has(14, QStringLiteral("-----")));
  EXPECT_TRUE(has(11, QStringLiteral("10996")));
  for (int column : {10, 12, 13}) {
    EXPECT_TRUE(has(column, QStringLiteral("9,999E007"))) << column;
    EXPECT_TRUE(has(column, QStringLiteral("9,999E-005"))) << column;
    EXPECT_TRUE(has(column, QStringLiteral("0,0009999"))) << column;
    EXPECT_TRUE(has(column, QStringLiteral("-----"))) << column;
  }
  for (const char* code : {"Ok'", "E0FFF", "EFFFF", "EAAAA", "E1111"})
    EXPECT_TRUE(has(15, QLatin1String(code))) << code;

  // In the locale's notation.
  seams::setLocale(QLocale(QLocale::English, QLocale::UnitedStates));
  const ResultTexts us;
  EXPECT_TRUE(us.columnForms(4).contains(QStringLiteral("29.99")));
  EXPECT_TRUE(us.columnForms(1).contains(QStringLiteral("12/28/00")));
  EXPECT_TRUE(us.columnForms(2).constLast().endsWith(QStringLiteral("PM")));
}

}  // namespace
