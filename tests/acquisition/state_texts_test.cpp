#include "acquisition/state_texts.h"

#include <gtest/gtest.h>

#include <QStringList>

namespace {

// True when every letter of `text` in `positions` is Cyrillic.
bool cyrillicAt(const QString& text, std::initializer_list<int> positions) {
  for (int p : positions)
    if (text.at(p).script() != QChar::Script_Cyrillic) return false;
  return true;
}

TEST(StateTextsTest, TheNineStatesReadAsTheAnalyzerManualHasThem) {
  const QStringList expected = {
      QStringLiteral(u"Ожидание"),          QStringLiteral(u"Установка \"0\""),
      QStringLiteral(u"Измерение"),         QStringLiteral(u"Продувка датчиков"),
      QStringLiteral(u"Работа вручную"),    QStringLiteral(u"Запрос"),
      QStringLiteral(u"Не отвечает"),       QStringLiteral(u"Ошибка в ответе"),
      QStringLiteral(u"ПРИБОР НЕ ПОДКЛЮЧЕН")};
  for (int i = 0; i < kStateTextCount; ++i) EXPECT_EQ(stateText(AnalyzerState(i)), expected[i]);
  EXPECT_EQ(stateText(AnalyzerState(9)), QStringLiteral(u"Неизвестное состояние 9"));
}

TEST(FaultTextsTest, GasNamesMixCyrillicOAndCWithLatinNAndS) {
  const QString o2 = kFaultTexts[2], co = kFaultTexts[3], no = kFaultTexts[4], no2 = kFaultTexts[5],
                so2 = kFaultTexts[6];
  EXPECT_TRUE(o2.endsWith(QStringLiteral(u"\u041E2")));
  EXPECT_TRUE(cyrillicAt(co, {int(co.size()) - 2, int(co.size()) - 1}));
  EXPECT_EQ(no.right(2), QStringLiteral(u"N\u041E"));
  EXPECT_EQ(no2.right(3), QStringLiteral(u"N\u041E2"));
  EXPECT_EQ(so2.right(3), QStringLiteral(u"S\u041E2"));
  EXPECT_EQ(kFaultTexts[0], QStringLiteral("Ошибка датчика Ta"));
  EXPECT_EQ(kFaultTexts[0].right(2), QStringLiteral("Ta"));  // Latin
  EXPECT_EQ(kFaultTexts[7].right(3), QStringLiteral("H2S"));
  EXPECT_EQ(kFaultTexts[10], QStringLiteral(u"Низкое V питания"));
  EXPECT_EQ(kFaultTexts[14], QStringLiteral(u"Сброс от WDT"));
  EXPECT_EQ(kFaultTexts[15], QStringLiteral(u"Аппаратная ошиб."));
}

TEST(BuildFaultTextTest, OneLinePerSetBitLowestFirstWithoutATrailingBreak) {
  QString text;
  buildFaultText(0, text);
  EXPECT_TRUE(text.isEmpty());
  buildFaultText(0x0005, text);
  EXPECT_EQ(text, kFaultTexts[0] + QStringLiteral("\r\n") + kFaultTexts[2]);
  QString all;
  buildFaultText(0xFFFF, all);
  EXPECT_EQ(all.split(QStringLiteral("\r\n")).size(), 16);
  QString high;
  buildFaultText(0xF000, high);
  EXPECT_EQ(high.split(QStringLiteral("\r\n")),
            (QStringList{kFaultTexts[12], kFaultTexts[13], kFaultTexts[14], kFaultTexts[15]}));
}

}  // namespace
