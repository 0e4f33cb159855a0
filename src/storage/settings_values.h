#pragma once
// The program's settings as values: the measuring (port, address, refresh
// period, the measuring cycle's times), the look of the chart and the table
// protocol's font. Plain values, copied to whoever needs them and compared
// with ==; the two settings files hold them (settings_files.h), and nothing
// else keeps them for the whole process.

#include <QMetaType>
#include <QString>
#include <array>
#include <cstdint>

#include "core/measurement.h"

// The measuring cycle's times of the slot in use, in minutes.
struct CycleTimes {
  uint8_t zeroSetting = 3;  // the analyzer's own: shown, never changed here
  uint8_t drain = 0;
  uint8_t measuring = 3;
  int32_t continuousPeriod = 60;  // a continuous measurement's period
  int32_t cyclePeriod = 30;       // a cyclic measurement's period

  bool operator==(const CycleTimes& o) const {
    return zeroSetting == o.zeroSetting && drain == o.drain && measuring == o.measuring &&
           continuousPeriod == o.continuousPeriod && cyclePeriod == o.cyclePeriod;
  }
  bool operator!=(const CycleTimes& o) const { return !(*this == o); }
};

struct MeasuringSettings {
  QString portName = QStringLiteral("COM2");  // at most 30 characters of Windows-1251
  uint8_t address = 1;                        // the analyzer's network address
  int32_t refreshPeriod = 10;                 // a continuous measurement's result every this many seconds
  CycleTimes times;

  bool operator==(const MeasuringSettings& o) const {
    return portName == o.portName && address == o.address && refreshPeriod == o.refreshPeriod && times == o.times;
  }
  bool operator!=(const MeasuringSettings& o) const { return !(*this == o); }
};

// Colours are stored 0x00BBGGRR.
inline uint32_t colorRef(int red, int green, int blue) {
  return uint32_t(red & 0xFF) | (uint32_t(green & 0xFF) << 8) | (uint32_t(blue & 0xFF) << 16);
}

struct ChannelLook {
  bool shown = false;
  double factor = 1;  // display factor of its curve
  uint32_t color = 0;

  bool operator==(const ChannelLook& o) const { return shown == o.shown && factor == o.factor && color == o.color; }
};

// The curves, in channel order, as a fresh installation shows them.
std::array<ChannelLook, kChannelCount> defaultChannelLooks();

struct ViewSettings {
  std::array<ChannelLook, kChannelCount> channels = defaultChannelLooks();
  bool logScale = true;
  bool view3D = true;
  uint32_t chartColorStart = 0xFFFFFF;  // the panel's lower colour
  uint32_t chartColorEnd = 0xF0CAA6;    // its upper colour

  bool operator==(const ViewSettings& o) const {
    return channels == o.channels && logScale == o.logScale && view3D == o.view3D &&
           chartColorStart == o.chartColorStart && chartColorEnd == o.chartColorEnd;
  }
  bool operator!=(const ViewSettings& o) const { return !(*this == o); }
};

struct PrintSettings {
  QString fontName = QStringLiteral("Courier New");  // at most 30 characters of Windows-1251
  int32_t fontSize = 8;                              // points

  bool operator==(const PrintSettings& o) const { return fontName == o.fontName && fontSize == o.fontSize; }
  bool operator!=(const PrintSettings& o) const { return !(*this == o); }
};

// What the device file keeps of a run beside the settings: the address and
// the fuel in use, the poll cycle's state and the latest measurement.
struct RunState {
  uint8_t address = 1;
  int32_t fuelIndex = 0;
  uint8_t linkState = 0;
  uint8_t requestKind = 0;
  uint8_t analyzerState = 0;
  uint8_t workMode = 0;
  double logDate = 0;  // program date-time the day's log began
  Measurement measurement;
};

// A further analyzer on the line (slots 2..8), as its device file beside the
// program configures it: its address (the file's first byte), its cycle
// times and fuel row. The port and the refresh period are the line's.
struct LineAnalyzer {
  int slot = 2;
  MeasuringSettings measuring;
  int fuelIndex = 0;

  bool operator==(const LineAnalyzer& o) const {
    return slot == o.slot && measuring == o.measuring && fuelIndex == o.fuelIndex;
  }
};

Q_DECLARE_METATYPE(MeasuringSettings)
Q_DECLARE_METATYPE(ViewSettings)
Q_DECLARE_METATYPE(PrintSettings)
Q_DECLARE_METATYPE(RunState)
