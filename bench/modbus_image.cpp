// What the measuring side pays for the Modbus TCP server: the register image
// built from an analyzer's snapshot, and the image handed to the server (a
// new image and a pointer swapped under the mutex). It does so after every
// poll tick and result, a few times a second; the figures show how far that
// is from mattering, and that clients reading meanwhile change nothing.

#include <benchmark/benchmark.h>

#include <atomic>
#include <thread>
#include <vector>

#include "modbus_server/register_image.h"
#include "modbus_server/server.h"
#include "support/raw_modbus_client.h"

namespace {

using namespace modbus_server;

AnalyzerSnapshot snapshot() {
  AnalyzerSnapshot s;
  s.resultCount = 1234;
  s.link = AnalyzerLinkState::Answering;
  LastResultSnapshot last;
  last.result.utcMs = 1742030430000;
  last.result.values = {182, 5.5, 33, 40, 5, 14, 2, 9.75, 45, 8.25, 1.25, 22};
  last.emissions = {45.5, 93.5, 40.25, 3.5};
  last.o2Ref = 3;
  s.last = last;
  AverageSnapshot a;
  for (auto& c : a.components) c = {90.25, 0, 90.25, true, 400, emissions::Exceedance::None};
  s.running = s.lastInterval = s.today = s.previousDay = a;
  return s;
}

void BM_BuildRegisterImage(benchmark::State& state) {
  const AnalyzerSnapshot s = snapshot();
  for (auto _ : state) benchmark::DoNotOptimize(buildRegisterImage(s, WordOrder::LowFirst));
}
BENCHMARK(BM_BuildRegisterImage);

// Argument: clients reading as fast as they can meanwhile (0 or 4).
void BM_PublishToARunningServer(benchmark::State& state) {
  ServerSettings settings;
  settings.enabled = true;
  settings.port = 0;
  Server server(settings);
  const AnalyzerSnapshot s = snapshot();
  server.publish(s);
  if (!server.start(nullptr)) {
    state.SkipWithError("server did not start");
    return;
  }
  std::atomic<bool> stop{false};
  std::vector<std::thread> readers;
  for (int i = 0; i < state.range(0); ++i)
    readers.emplace_back([&] {
      RawModbusClient c;
      if (!c.connect(server.port())) return;
      while (!stop) c.read(1, 4, 0, 125);
    });
  for (auto _ : state) server.publish(s);
  stop = true;
  for (std::thread& t : readers) t.join();
  state.counters["reads"] = double(server.counters().requests);
}
BENCHMARK(BM_PublishToARunningServer)->Arg(0)->Arg(4)->UseRealTime();

}  // namespace
BENCHMARK_MAIN();
