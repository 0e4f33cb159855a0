#pragma once
// Texts of the analyzer's operating states and of the sixteen bits of its
// fault word, as shown in the state label.

#include <QString>
#include <cstdint>

inline constexpr int kStateTextCount = 9;
inline constexpr uint8_t kStateNotConnected = 8;

// StateTexts[DeviceState]; entry 8 is the program's own "not connected".
extern const QString StateTexts[kStateTextCount];
// FaultTexts[bit] for bits 0..15 of the fault word.
extern const QString FaultTexts[16];

// The label text for a state; a state the analyzer should never report (above
// 8) gets "Неизвестное состояние" and its number instead of an out-of-range entry.
QString StateText(uint8_t state);

// Appends one line per set bit of `faultWord`, lowest bit first, separated by
// CR LF. A fault word of 0 leaves `faultText` unchanged.
void BuildFaultText(uint16_t faultWord, QString& faultText);
