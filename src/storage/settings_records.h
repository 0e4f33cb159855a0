#pragma once
// The two settings records, laid out byte for byte as the files hold them:
// packed, little-endian, short strings as a length byte and 30 characters in
// Windows-1251. The device record keeps the poll cycle's state and the latest
// measurement beside the settings, and every save writes it whole. The
// records are the files' format only: the program works with the values of
// settings_values.h, which SettingsFiles reads from and writes into them.

#include <QString>
#include <QtGlobal>
#include <cstddef>
#include <cstdint>

#include "core/measurement.h"

static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN, "the records are stored as little-endian memory images");

inline constexpr int kSlotCount = 8;

#pragma pack(push, 1)

// A string[30]: length byte 0..30, then 30 bytes of which the first `length`
// count. The bytes after them are kept as they are and written back unchanged.
struct ShortString30 {
  uint8_t length;
  char chars[30];
};

struct ChannelView {
  uint8_t show;  // bool: 0 false, anything else true
  double multiplier;
};

struct ProgramSettings {
  ShortString30 portName;            // 0
  ShortString30 printFontName;       // 31
  uint8_t netAddress;                 // 62
  int32_t refreshPeriod;              // 63
  int32_t printFontSize;              // 67
  uint8_t logScale;                   // 71, bool
  uint8_t view3D;                     // 72, bool
  uint32_t chartColorStart;           // 73, 0x00BBGGRR
  uint32_t chartColorEnd;             // 77
  uint32_t seriesColor[kChannelCount];        // 81
  ChannelView channelView[kChannelCount];    // 129
};

// The last decoded measurement as the device file holds it: Ta stands second
// here, unlike everywhere else.
struct MeasurementRecord {
  int32_t faultBits;  // 131
  double tg;          // 135
  double ta;          // 143
  double o2;          // 151
  double co;          // 159
  double no;          // 167
  double no2;         // 175
  double so2;         // 183
  double h2s;         // 191
  double co2;         // 199
  double nox;         // 207
  double qa;          // 215
  double alf;         // 223
  double measTime;    // 231
};

struct DeviceRecord {
  uint8_t deviceAddress;                    // 0
  uint8_t deviceSlot;                       // 1, 1..8
  uint8_t slotFlag[kSlotCount];             // 2
  uint8_t calibrationTime[kSlotCount];      // 10, minutes
  uint8_t drainTime[kSlotCount];            // 18, minutes
  uint8_t measurementTime[kSlotCount];      // 26, minutes
  int32_t calibrationInterval[kSlotCount];  // 34, minutes
  int32_t cyclePeriod[kSlotCount];          // 66, minutes
  uint8_t linkState;                        // 98
  uint8_t unused99;                         // 99
  int32_t fuelIndex;                        // 100
  uint8_t requestKind;                      // 104
  uint8_t deviceState;                      // 105
  uint8_t workMode;                         // 106
  uint8_t unused107[12];                    // 107
  double logDate;                           // 119
  uint8_t unused127[4];                     // 127
  MeasurementRecord measurement;            // 131
};

#pragma pack(pop)

static_assert(sizeof(ShortString30) == 31);
static_assert(sizeof(ChannelView) == 9);
static_assert(sizeof(ProgramSettings) == 237);
static_assert(offsetof(ProgramSettings, netAddress) == 62);
static_assert(offsetof(ProgramSettings, refreshPeriod) == 63);
static_assert(offsetof(ProgramSettings, printFontSize) == 67);
static_assert(offsetof(ProgramSettings, logScale) == 71);
static_assert(offsetof(ProgramSettings, view3D) == 72);
static_assert(offsetof(ProgramSettings, chartColorStart) == 73);
static_assert(offsetof(ProgramSettings, chartColorEnd) == 77);
static_assert(offsetof(ProgramSettings, seriesColor) == 81);
static_assert(offsetof(ProgramSettings, channelView) == 129);
static_assert(sizeof(MeasurementRecord) == 108);
static_assert(sizeof(DeviceRecord) == 239);
static_assert(offsetof(DeviceRecord, calibrationTime) == 10);
static_assert(offsetof(DeviceRecord, drainTime) == 18);
static_assert(offsetof(DeviceRecord, measurementTime) == 26);
static_assert(offsetof(DeviceRecord, calibrationInterval) == 34);
static_assert(offsetof(DeviceRecord, cyclePeriod) == 66);
static_assert(offsetof(DeviceRecord, linkState) == 98);
static_assert(offsetof(DeviceRecord, fuelIndex) == 100);
static_assert(offsetof(DeviceRecord, requestKind) == 104);
static_assert(offsetof(DeviceRecord, deviceState) == 105);
static_assert(offsetof(DeviceRecord, workMode) == 106);
static_assert(offsetof(DeviceRecord, logDate) == 119);
static_assert(offsetof(DeviceRecord, measurement) == 131);
static_assert(offsetof(DeviceRecord, measurement) + offsetof(MeasurementRecord, measTime) == 231);

// Index into the per-slot arrays for the slot in use. deviceSlot is kept in
// 1..8 by the loader, so this is always 0..7.
inline int slotIndex(const DeviceRecord& record) {
  const int slot = record.deviceSlot;
  return (slot >= 1 && slot <= kSlotCount) ? slot - 1 : 0;
}

// Short string access, through Windows-1251.
QString shortStringText(const ShortString30& s);
// Writes the length byte and the characters only (the rest stay as they are),
// cut to 30 characters. False, and nothing written, when `text` has a
// character without a Windows-1251 form.
bool setShortString(ShortString30& s, const QString& text);

// The measurement group of the device record from a measurement and back.
MeasurementRecord toRecord(const Measurement& m);
Measurement fromRecord(const MeasurementRecord& r);
