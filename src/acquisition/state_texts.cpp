#include "acquisition/state_texts.h"

const QString kStateTexts[kStateTextCount] = {
    QStringLiteral(u"Ожидание"),
    QStringLiteral(u"Установка \"0\""),
    QStringLiteral(u"Измерение"),
    QStringLiteral(u"Продувка датчиков"),
    QStringLiteral(u"Работа вручную"),
    QStringLiteral(u"Запрос"),
    QStringLiteral(u"Не отвечает"),
    QStringLiteral(u"Ошибка в ответе"),
    QStringLiteral(u"ПРИБОР НЕ ПОДКЛЮЧЕН"),
};

// In the gas names the O (and the C of CO) are Cyrillic, N, S and digits Latin,
// as the analyzer's manual prints them.
const QString kFaultTexts[16] = {
    QStringLiteral(u"Ошибка датчика Ta"),
    QStringLiteral(u"Td вне диапазона"),
    QStringLiteral(u"Ошибка датчика \u041E2"),
    QStringLiteral(u"Ошибка датчика \u0421\u041E"),
    QStringLiteral(u"Ошибка датчика N\u041E"),
    QStringLiteral(u"Ошибка датчика N\u041E2"),
    QStringLiteral(u"Ошибка датчика S\u041E2"),
    QStringLiteral(u"Ошибка датчика H2S"),
    QStringLiteral(u"Ошибка датчика Prd"),
    QStringLiteral(u"Насос неисправен"),
    QStringLiteral(u"Низкое V питания"),
    QStringLiteral(u"Перегрузка датчиков"),
    QStringLiteral(u"Неиспр.клапанов"),
    QStringLiteral(u"Неиспр.пробоотбора"),
    QStringLiteral(u"Сброс от WDT"),
    QStringLiteral(u"Аппаратная ошиб."),
};

QString stateText(AnalyzerState state) {
  const int n = int(state);
  if (n < kStateTextCount) return kStateTexts[n];
  return QStringLiteral(u"Неизвестное состояние %1").arg(n);
}

void buildFaultText(uint16_t faultWord, QString& faultText) {
  if (faultWord == 0) return;
  for (int bit = 0; bit < 16; ++bit) {
    if (!(faultWord & (1u << bit))) continue;
    if (faultText.isEmpty())
      faultText = kFaultTexts[bit];
    else
      faultText += QStringLiteral("\r\n") + kFaultTexts[bit];
  }
}
