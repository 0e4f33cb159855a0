// The per-exchange work of the device link: the CRC of a status reply, the
// collection of the reply as it arrives with the acceptance test, and the
// decoding with the derived channels. One exchange a second leaves them idle;
// the figures show how far.

#include <benchmark/benchmark.h>

#include <array>

#include "device/fuel_table.h"
#include "device/modbus_rtu.h"
#include "device/register_map.h"

namespace {

std::array<uint8_t, 33> statusReplyBytes() {
  std::array<uint8_t, 33> r{0x01, 0x04, 28, 0x00, 0x02, 0x00, 0x00, 0x00, 180, 0x00, 20,
                            0x01, 0x5E, 0x00, 0x00, 0x00, 50, 0x00, 40, 0x00, 5, 0x00,
                            12, 0x00, 1, 0x0B, 0x19, 0x07, 0xEA, 0x10, 0xE1};
  const uint16_t crc = modbusCrc(r.data(), 31);
  r[31] = uint8_t(crc & 0xFF);
  r[32] = uint8_t(crc >> 8);
  return r;
}

void BM_ModbusCrcOfAStatusReply(benchmark::State& state) {
  const auto reply = statusReplyBytes();
  for (auto _ : state) benchmark::DoNotOptimize(modbusCrc(reply.data(), 31));
  state.SetBytesProcessed(int64_t(state.iterations()) * 31);
}
BENCHMARK(BM_ModbusCrcOfAStatusReply);

void BM_CollectAndAcceptAStatusReply(benchmark::State& state) {
  const auto reply = statusReplyBytes();
  ReplyCollector collector;
  for (auto _ : state) {
    collector.clear();
    collector.append(reply.data(), int(reply.size()));
    benchmark::DoNotOptimize(collector.accepted());
  }
}
BENCHMARK(BM_CollectAndAcceptAStatusReply);

void BM_DecodeMeasurement(benchmark::State& state) {
  const auto reply = statusReplyBytes();
  const FuelTable fuels = builtInFuelTable();
  for (auto _ : state) {
    const Measurement m = decodeMeasurement(reply.data(), fuels[0], 46000.5);
    benchmark::DoNotOptimize(m);
  }
}
BENCHMARK(BM_DecodeMeasurement);

}  // namespace
