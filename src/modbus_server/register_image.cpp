#include "modbus_server/register_image.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace modbus_server {

namespace {

using emissions::kComponentCount;

// A value as a float, or the marker when there is none or it does not fit.
bool putValue(RegisterImage& image, int at, const std::optional<double>& value, WordOrder order) {
  const float f = value ? float(*value) : kMissingValue;
  const bool ok = value && std::isfinite(f);
  putFloat(image, at, ok ? f : kMissingValue, order);
  return ok;
}

uint32_t unixSeconds(qint64 utcMs) {
  if (utcMs <= 0) return 0;
  const qint64 s = utcMs / 1000;
  return s > qint64(UINT32_MAX) ? UINT32_MAX : uint32_t(s);
}

uint16_t exceedanceCode(emissions::Exceedance e) {
  switch (e) {
    case emissions::Exceedance::None: return 0;
    case emissions::Exceedance::PreAlarm: return 1;
    case emissions::Exceedance::Alarm: return 2;
  }
  return 0;
}

void putAverage(RegisterImage& image, int block, const std::optional<AverageSnapshot>& average, WordOrder order) {
  uint16_t validBits = 0, valueBits = 0, exceedance = 0;
  if (average) {
    putUint32(image, block + reg::kAvgStart, unixSeconds(average->startUtcMs), order);
    putUint32(image, block + reg::kAvgEnd, unixSeconds(average->endUtcMs), order);
    image[size_t(block + reg::kAvgPresent)] = 1;
  }
  for (int c = 0; c < kComponentCount; ++c) {
    const ComponentAverageSnapshot* a = average ? &average->components[size_t(c)] : nullptr;
    const bool measured = putValue(image, block + reg::kAvgMeasured + 2 * c, a ? a->measured : std::nullopt, order);
    const bool validated = putValue(image, block + reg::kAvgValidated + 2 * c, a ? a->validated : std::nullopt, order);
    std::optional<double> confidence;
    if (measured && validated) confidence = a->confidence;
    const bool numbers = putValue(image, block + reg::kAvgConfidence + 2 * c, confidence, order);
    if (!a) continue;
    if (numbers) valueBits |= uint16_t(1u << c);
    if (a->valid && numbers) validBits |= uint16_t(1u << c);
    exceedance |= uint16_t(exceedanceCode(a->exceedance) << (2 * c));
    image[size_t(block + reg::kAvgCounts + c)] = uint16_t(std::min(a->count, 65535));
  }
  image[size_t(block + reg::kAvgValidBits)] = validBits;
  image[size_t(block + reg::kAvgValueBits)] = valueBits;
  image[size_t(block + reg::kAvgExceedance)] = exceedance;
}

}  // namespace

void putUint32(RegisterImage& image, int at, uint32_t value, WordOrder order) {
  const uint16_t high = uint16_t(value >> 16), low = uint16_t(value & 0xFFFF);
  image[size_t(at)] = order == WordOrder::HighFirst ? high : low;
  image[size_t(at + 1)] = order == WordOrder::HighFirst ? low : high;
}

void putFloat(RegisterImage& image, int at, float value, WordOrder order) {
  uint32_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  putUint32(image, at, bits, order);
}

uint32_t getUint32(const uint16_t* registers, int at, WordOrder order) {
  const uint32_t first = registers[at], second = registers[at + 1];
  return order == WordOrder::HighFirst ? (first << 16 | second) : (second << 16 | first);
}

float getFloat(const uint16_t* registers, int at, WordOrder order) {
  const uint32_t bits = getUint32(registers, at, order);
  float value = 0;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

RegisterImage buildRegisterImage(const AnalyzerSnapshot& s, WordOrder order) {
  RegisterImage image{};
  image[reg::kVersion] = kMapVersion;
  image[reg::kResultHeartbeat] = uint16_t(s.resultCount & 0xFFFF);
  image[reg::kLinkState] = uint16_t(s.link);
  image[reg::kAnalyzerState] = uint16_t(s.analyzerState);
  image[reg::kMode] = uint16_t(s.mode);
  image[reg::kFaultWord] = s.faultWord;

  uint16_t channelValid = 0, codeBits = 0, emissionValid = 0;
  uint32_t codes = 0;
  const LastResultSnapshot* last = s.last ? &*s.last : nullptr;
  if (last) {
    const Result& r = last->result;
    image[reg::kLastPresent] = 1;
    image[reg::kLastStatus] = uint16_t(r.status);
    putUint32(image, reg::kLastTime, unixSeconds(r.utcMs), order);
    image[reg::kLastUtcOffset] = uint16_t(int16_t(std::clamp(r.utcOffset / 60, -32768, 32767)));
    image[reg::kLastFuel] = r.fuelIndex;
  }
  for (int ch = 0; ch < kChannelCount; ++ch) {
    std::optional<double> value;
    if (last) {
      const double v = last->result[ch];
      const SpecialCode code = specialCode(ch, v);
      if (code == SpecialCode::None)
        value = v;
      else {
        codeBits |= uint16_t(1u << ch);
        codes |= uint32_t(code) << (2 * ch);
      }
    }
    if (putValue(image, reg::kChannels + 2 * ch, value, order)) channelValid |= uint16_t(1u << ch);
  }
  for (int c = 0; c < kComponentCount; ++c) {
    const std::optional<double> value = last ? last->emissions[size_t(c)] : std::nullopt;
    if (putValue(image, reg::kEmissions + 2 * c, value, order)) emissionValid |= uint16_t(1u << c);
  }
  if (putValue(image, reg::kO2Ref, last ? last->o2Ref : std::nullopt, order)) emissionValid |= 1u << 4;
  image[reg::kChannelValidBits] = channelValid;
  image[reg::kChannelCodeBits] = codeBits;
  putUint32(image, reg::kChannelCodes, codes, order);
  image[reg::kEmissionValidBits] = emissionValid;

  uint16_t alarmBits = 0, preAlarmBits = 0;
  for (int c = 0; c < kComponentCount; ++c) {
    const ComponentAlarms& a = s.alarms[size_t(c)];
    if (a.intervalAlarm) alarmBits |= uint16_t(1u << c);
    if (a.dayAlarm) alarmBits |= uint16_t(1u << (4 + c));
    if (a.intervalPreAlarm) preAlarmBits |= uint16_t(1u << c);
    if (a.dayPreAlarm) preAlarmBits |= uint16_t(1u << (4 + c));
  }
  image[reg::kAlarmBits] = alarmBits;
  image[reg::kPreAlarmBits] = preAlarmBits;
  image[reg::kLamp] = uint16_t(s.lamp);
  image[reg::kIntervalMinutes] = uint16_t(std::clamp(s.intervalMinutes, 0, 65535));

  putAverage(image, reg::kRunningInterval, s.running, order);
  putAverage(image, reg::kLastInterval, s.lastInterval, order);
  putAverage(image, reg::kToday, s.today, order);
  putAverage(image, reg::kPreviousDay, s.previousDay, order);
  return image;
}

}  // namespace modbus_server
