#include <gtest/gtest.h>

#include <QLocale>

#include "platform/seams.h"
#include "dialogs/number_text.h"

namespace {

class NumberTextTest : public ::testing::Test {
 protected:
  void SetUp() override { seams::setLocale(QLocale(QLocale::Russian, QLocale::Russia)); }
  void TearDown() override { seams::resetLocale(); }
};

TEST_F(NumberTextTest, ScaledValuesRoundOnTheTypedDigitsWithTiesToEven) {
  struct Case {
    const char* text;
    int scale;
    int32_t want;
  };
  const Case cases[] = {
      {"11,85", 3, 11850},     {"1500,5", 0, 1500},  {"1501,5", 0, 1502},   {"0,833", 3, 833},
      {"0,8445", 3, 844},      {"0,8455", 3, 846},   {"0,84450001", 3, 845}, {"2,5", 0, 2},
      {"0,5", 0, 0},           {"0,4", 0, 0},        {"0,6", 0, 1},         {"0,05", 0, 0},
      {"-1500,5", 0, -1500},   {"-1501,5", 0, -1502}, {"007", 0, 7},        {"1,", 3, 1000},
      {",5", 3, 500},          {" 12 ", 0, 12},      {"+3", 0, 3},          {"1E3", 0, 1000},
      {"1,5e-3", 3, 2},        {"0", 3, 0},          {"0,0000", 3, 0},      {"1E-999999999", 3, 0},
      {"2147483647", 0, 2147483647}, {"-2147483648", 0, INT32_MIN},   {"2147483,647", 3, 2147483647},
      {"2147483647,4", 0, 2147483647},
  };
  for (const Case& c : cases) {
    int32_t value = -12345;
    EXPECT_EQ(readScaledInt(QString::fromUtf8(c.text), c.scale, &value), ScaledRead::Ok) << c.text;
    EXPECT_EQ(value, c.want) << c.text;
  }
}

TEST_F(NumberTextTest, TextsThatAreNoNumberOrDoNotFitAreRefused) {
  struct Case {
    const char* text;
    int scale;
    ScaledRead want;
  };
  const Case cases[] = {
      {"", 0, ScaledRead::NotANumber},        {",", 3, ScaledRead::NotANumber},
      {"1,2,3", 3, ScaledRead::NotANumber},   {"1.5", 0, ScaledRead::NotANumber},
      {"12a", 0, ScaledRead::NotANumber},     {"-", 0, ScaledRead::NotANumber},
      {"1E", 0, ScaledRead::NotANumber},      {"1 000", 0, ScaledRead::NotANumber},
      {"2147483648", 0, ScaledRead::OutOfRange}, {"2147483647,5", 0, ScaledRead::OutOfRange},
      {"-2147483649", 0, ScaledRead::OutOfRange}, {"2147484", 3, ScaledRead::OutOfRange},
      {"1E999999999", 0, ScaledRead::OutOfRange}, {"99999999999999999999", 0, ScaledRead::OutOfRange},
  };
  for (const Case& c : cases) {
    int32_t value = 77;
    EXPECT_EQ(readScaledInt(QString::fromUtf8(c.text), c.scale, &value), c.want) << c.text;
    EXPECT_EQ(value, 77) << c.text;
  }
}

TEST_F(NumberTextTest, FloatsUseTheLocalesSeparator) {
  EXPECT_DOUBLE_EQ(*readFloat(QStringLiteral("2,5")), 2.5);
  EXPECT_DOUBLE_EQ(*readFloat(QStringLiteral("0,1")), 0.1);
  EXPECT_DOUBLE_EQ(*readFloat(QStringLiteral("-1,5E2")), -150.0);
  EXPECT_FALSE(readFloat(QStringLiteral("2.5")));
  EXPECT_FALSE(readFloat(QStringLiteral("1E400")));
  EXPECT_FALSE(readFloat(QStringLiteral("abc")));
  seams::setLocale(QLocale(QLocale::English, QLocale::UnitedStates));
  EXPECT_DOUBLE_EQ(*readFloat(QStringLiteral("2.5")), 2.5);
  EXPECT_FALSE(readFloat(QStringLiteral("2,5")));
  EXPECT_EQ(numberText(0.833), QStringLiteral("0.833"));
}

TEST_F(NumberTextTest, NumbersAreShownInTheShortestForm) {
  EXPECT_EQ(numberText(11.8), QStringLiteral("11,8"));
  EXPECT_EQ(numberText(0.833), QStringLiteral("0,833"));
  EXPECT_EQ(numberText(1000), QStringLiteral("1000"));
  EXPECT_EQ(numberText(0.1), QStringLiteral("0,1"));
  EXPECT_EQ(numberText(11850 / 1000.0), QStringLiteral("11,85"));
  // What is shown reads back to the same value.
  for (int v : {1, 833, 794, 11800, 24500, 2147483647}) {
    int32_t back = 0;
    ASSERT_EQ(readScaledInt(numberText(v / 1000.0), 3, &back), ScaledRead::Ok) << v;
    EXPECT_EQ(back, v);
  }
}

TEST_F(NumberTextTest, IntegersReadOnlyAsWholeNumbers) {
  EXPECT_EQ(readInt(QStringLiteral(" 42 ")), 42);
  EXPECT_EQ(readInt(QStringLiteral("-5")), -5);
  EXPECT_EQ(readInt(QStringLiteral("+7")), 7);
  EXPECT_FALSE(readInt(QStringLiteral("1,5")));
  EXPECT_FALSE(readInt(QStringLiteral("")));
  EXPECT_FALSE(readInt(QStringLiteral("-")));
  EXPECT_FALSE(readInt(QStringLiteral("2147483648")));
  EXPECT_EQ(readInt(QStringLiteral("-2147483648")), INT32_MIN);
}

TEST_F(NumberTextTest, ErrorTextsAreTheStandardOnes) {
  EXPECT_EQ(notAFloatText(QStringLiteral("1,2,3")), QStringLiteral("'1,2,3' is not a valid floating point value"));
  EXPECT_EQ(notAFloatText(QStringLiteral("%1")), QStringLiteral("'%1' is not a valid floating point value"));
  EXPECT_EQ(rangeErrorText(), QStringLiteral("Range check error"));
}

}  // namespace
