#include "acquisition/state_texts.h"

const QString StateTexts[kStateTextCount] = {
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
const QString FaultTexts[16] = {
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

QString StateText(uint8_t state) {
  if (state < kStateTextCount) return StateTexts[state];
  return QStringLiteral(u"Неизвестное состояние %1").arg(state);
}

void BuildFaultText(uint16_t faultWord, QString& faultText) {
  if (faultWord == 0) return;
  for (int bit = 0; bit < 16; ++bit) {
    if (!(faultWord & (1u << bit))) continue;
    if (faultText.isEmpty())
      faultText = FaultTexts[bit];
    else
      faultText += QStringLiteral("\r\n") + FaultTexts[bit];
  }
}
