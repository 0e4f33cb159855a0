#pragma once
// Texts of the analyzer's operating states and of the sixteen bits of its
// fault word, as shown in the state label.

#include <QString>
#include <cstdint>

#include "device/register_map.h"

inline constexpr int kStateTextCount = 9;

// kStateTexts[state]; entry 8 is the program's own "not connected".
extern const QString kStateTexts[kStateTextCount];
// kFaultTexts[bit] for bits 0..15 of the fault word.
extern const QString kFaultTexts[16];

// The label text for a state; a state the analyzer should never report (above
// 8) gets "Неизвестное состояние" and its number instead of an out-of-range entry.
QString stateText(AnalyzerState state);

// Appends one line per set bit of `faultWord`, lowest bit first, separated by
// CR LF. A fault word of 0 leaves `faultText` unchanged.
void buildFaultText(uint16_t faultWord, QString& faultText);
