#pragma once
// The two settings records, laid out byte for byte as the files hold them:
// packed, little-endian, short strings as a length byte and 30 characters in
// Windows-1251. The records are the program's state as well as its settings;
// the poll cycle works on DeviceRecord directly and every save writes it whole.

#include <QString>
#include <QtGlobal>
#include <cstddef>
#include <cstdint>

static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN, "the records are stored as little-endian memory images");

inline constexpr int kChannelCount = 12;
inline constexpr int kSlotCount = 8;

#pragma pack(push, 1)

// A string[30]: length byte 0..30, then 30 bytes of which the first `Length`
// count. The bytes after them are kept as they are and written back unchanged.
struct TShortString30 {
  uint8_t Length;
  char Chars[30];
};

struct TChannelView {
  uint8_t Show;  // bool: 0 false, anything else true
  double Multiplier;
};

struct TProgramSettings {
  TShortString30 PortName;            // 0
  TShortString30 PrintFontName;       // 31
  uint8_t NetAddress;                 // 62
  int32_t RefreshPeriod;              // 63
  int32_t PrintFontSize;              // 67
  uint8_t LogScale;                   // 71, bool
  uint8_t View3D;                     // 72, bool
  uint32_t ChartColorStart;           // 73, 0x00BBGGRR
  uint32_t ChartColorEnd;             // 77
  uint32_t SeriesColor[kChannelCount];        // 81
  TChannelView ChannelView[kChannelCount];    // 129
};

// The measured and computed values of the last decoded status reply. Inside
// this group Ta stands second; everywhere else the channel order is Tg, O2, CO,
// NO, NO2, SO2, H2S, CO2, NOx, Qa, Alf, Ta.
struct TMeasurement {
  int32_t FaultBits;  // 131
  double Tg;          // 135
  double Ta;          // 143
  double O2;          // 151
  double CO;          // 159
  double NO;          // 167
  double NO2;         // 175
  double SO2;         // 183
  double H2S;         // 191
  double CO2;         // 199
  double NOx;         // 207
  double Qa;          // 215
  double Alf;         // 223
  double MeasTime;    // 231
};

struct TDeviceRecord {
  uint8_t DeviceAddress;                    // 0
  uint8_t DeviceSlot;                       // 1, 1..8
  uint8_t SlotFlag[kSlotCount];             // 2
  uint8_t CalibrationTime[kSlotCount];      // 10, minutes
  uint8_t DrainTime[kSlotCount];            // 18, minutes
  uint8_t MeasurementTime[kSlotCount];      // 26, minutes
  int32_t CalibrationInterval[kSlotCount];  // 34, minutes
  int32_t CyclePeriod[kSlotCount];          // 66, minutes
  uint8_t LinkState;                        // 98
  uint8_t Unused99;                         // 99
  int32_t FuelIndex;                        // 100
  uint8_t RequestKind;                      // 104
  uint8_t DeviceState;                      // 105
  uint8_t WorkMode;                         // 106
  uint8_t Unused107[12];                    // 107
  double LogDate;                           // 119
  uint8_t Unused127[4];                     // 127
  TMeasurement Measurement;                 // 131
};

#pragma pack(pop)

static_assert(sizeof(TShortString30) == 31);
static_assert(sizeof(TChannelView) == 9);
static_assert(sizeof(TProgramSettings) == 237);
static_assert(offsetof(TProgramSettings, NetAddress) == 62);
static_assert(offsetof(TProgramSettings, RefreshPeriod) == 63);
static_assert(offsetof(TProgramSettings, PrintFontSize) == 67);
static_assert(offsetof(TProgramSettings, LogScale) == 71);
static_assert(offsetof(TProgramSettings, View3D) == 72);
static_assert(offsetof(TProgramSettings, ChartColorStart) == 73);
static_assert(offsetof(TProgramSettings, ChartColorEnd) == 77);
static_assert(offsetof(TProgramSettings, SeriesColor) == 81);
static_assert(offsetof(TProgramSettings, ChannelView) == 129);
static_assert(sizeof(TMeasurement) == 108);
static_assert(sizeof(TDeviceRecord) == 239);
static_assert(offsetof(TDeviceRecord, CalibrationTime) == 10);
static_assert(offsetof(TDeviceRecord, DrainTime) == 18);
static_assert(offsetof(TDeviceRecord, MeasurementTime) == 26);
static_assert(offsetof(TDeviceRecord, CalibrationInterval) == 34);
static_assert(offsetof(TDeviceRecord, CyclePeriod) == 66);
static_assert(offsetof(TDeviceRecord, LinkState) == 98);
static_assert(offsetof(TDeviceRecord, FuelIndex) == 100);
static_assert(offsetof(TDeviceRecord, RequestKind) == 104);
static_assert(offsetof(TDeviceRecord, DeviceState) == 105);
static_assert(offsetof(TDeviceRecord, WorkMode) == 106);
static_assert(offsetof(TDeviceRecord, LogDate) == 119);
static_assert(offsetof(TDeviceRecord, Measurement) == 131);
static_assert(offsetof(TDeviceRecord, Measurement) + offsetof(TMeasurement, MeasTime) == 231);

// The single program-wide records.
extern TProgramSettings ProgramSettings;
extern TDeviceRecord DeviceRecord;

// Index into the per-slot arrays for the slot in use. DeviceSlot is kept in
// 1..8 by the loader, so this is always 0..7.
inline int SlotIndex(const TDeviceRecord& record) {
  const int slot = record.DeviceSlot;
  return (slot >= 1 && slot <= kSlotCount) ? slot - 1 : 0;
}

// Short string access, through Windows-1251.
QString ShortStringText(const TShortString30& s);
// Writes the length byte and the characters only (the rest stay as they are),
// cut to 30 characters. False, and nothing written, when `text` has a
// character without a Windows-1251 form.
bool SetShortString(TShortString30& s, const QString& text);

// Colours are stored 0x00BBGGRR.
inline uint32_t ColorRef(int red, int green, int blue) {
  return uint32_t(red & 0xFF) | (uint32_t(green & 0xFF) << 8) | (uint32_t(blue & 0xFF) << 16);
}
