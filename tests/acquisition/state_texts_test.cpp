#include "acquisition/state_texts.h"

#include <gtest/gtest.h>

#include <QStringList>

namespace {

// True when every letter of `text` in `positions` is Cyrillic.
bool CyrillicAt(const QString& text, std::initializer_list<int> positions) {
  for (int p : positions)
    if (text.at(p).script() != QChar::Script_Cyrillic) return false;
  return true;
}

TEST(StateTexts, TheNineStatesReadAsTheAnalyzerManualHasThem) {
  const QStringList expected = {
      QStringLiteral(u"Ожидание"),          QStringLiteral(u"Установка \"0\""),
      QStringLiteral(u"Измерение"),         QStringLiteral(u"Продувка датчиков"),
      QStringLiteral(u"Работа вручную"),    QStringLiteral(u"Запрос"),
      QStringLiteral(u"Не отвечает"),       QStringLiteral(u"Ошибка в ответе"),
      QStringLiteral(u"ПРИБОР НЕ ПОДКЛЮЧЕН")};
  for (int i = 0; i < kStateTextCount; ++i) EXPECT_EQ(StateText(uint8_t(i)), expected[i]);
  EXPECT_EQ(StateText(9), QStringLiteral(u"Неизвестное состояние 9"));
}

TEST(FaultTexts, GasNamesMixCyrillicOAndCWithLatinNAndS) {
  const QString o2 = FaultTexts[2], co = FaultTexts[3], no = FaultTexts[4], no2 = FaultTexts[5],
                so2 = FaultTexts[6];
  EXPECT_TRUE(o2.endsWith(QStringLiteral(u"\u041E2")));
  EXPECT_TRUE(CyrillicAt(co, {int(co.size()) - 2, int(co.size()) - 1}));
  EXPECT_EQ(no.right(2), QStringLiteral(u"N\u041E"));
  EXPECT_EQ(no2.right(3), QStringLiteral(u"N\u041E2"));
  EXPECT_EQ(so2.right(3), QStringLiteral(u"S\u041E2"));
  EXPECT_EQ(FaultTexts[0], QStringLiteral("Ошибка датчика Ta"));
  EXPECT_EQ(FaultTexts[0].right(2), QStringLiteral("Ta"));  // Latin
  EXPECT_EQ(FaultTexts[7].right(3), QStringLiteral("H2S"));
  EXPECT_EQ(FaultTexts[10], QStringLiteral(u"Низкое V питания"));
  EXPECT_EQ(FaultTexts[14], QStringLiteral(u"Сброс от WDT"));
  EXPECT_EQ(FaultTexts[15], QStringLiteral(u"Аппаратная ошиб."));
}

TEST(BuildFaultText, OneLinePerSetBitLowestFirstWithoutATrailingBreak) {
  QString text;
  BuildFaultText(0, text);
  EXPECT_TRUE(text.isEmpty());
  BuildFaultText(0x0005, text);
  EXPECT_EQ(text, FaultTexts[0] + QStringLiteral("\r\n") + FaultTexts[2]);
  QString all;
  BuildFaultText(0xFFFF, all);
  EXPECT_EQ(all.split(QStringLiteral("\r\n")).size(), 16);
  QString high;
  BuildFaultText(0xF000, high);
  EXPECT_EQ(high.split(QStringLiteral("\r\n")),
            (QStringList{FaultTexts[12], FaultTexts[13], FaultTexts[14], FaultTexts[15]}));
}

}  // namespace
