#include "support/modbus_load.h"

#include <algorithm>
#include <chrono>
#include <cmath>

#include "support/raw_modbus_client.h"

ModbusLoad::ModbusLoad(quint16 port, int clients, int readsPerSecond, Read read)
    : port_(port), clients_(clients), periodMs_(1000 / std::max(1, readsPerSecond)), read_(read) {}

ModbusLoad::ModbusLoad(quint16 port, int clients, int readsPerSecond)
    : ModbusLoad(port, clients, readsPerSecond, Read{}) {}

ModbusLoad::~ModbusLoad() { stop(); }

void ModbusLoad::start() {
  stopping_ = false;
  for (int i = 0; i < clients_; ++i) threads_.emplace_back([this, i] { run(i); });
}

void ModbusLoad::stop() {
  stopping_ = true;
  for (std::thread& t : threads_) t.join();
  threads_.clear();
}

void ModbusLoad::run(int index) {
  using Clock = std::chrono::steady_clock;
  RawModbusClient client;
  if (!client.connect(port_)) {
    ++failures_;
    return;
  }
  std::vector<Answer> mine;
  // The clients spread over the period, as independent pollers would be.
  Clock::time_point next = Clock::now() + std::chrono::milliseconds(periodMs_ * index / std::max(1, clients_));
  while (!stopping_) {
    // The pace of a polling client, not a wait for a result.
    std::this_thread::sleep_until(next);
    next += std::chrono::milliseconds(periodMs_);
    const Clock::time_point sent = Clock::now();
    const auto reply = client.read(uint8_t(read_.unit), read_.function, read_.address, read_.count);
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - sent).count();
    if (!reply || reply->exception != 0 || int(reply->registers.size()) != read_.count) {
      ++failures_;
      if (!client.connect(port_)) break;
      continue;
    }
    mine.push_back(Answer{ms, reply->registers});
  }
  std::lock_guard<std::mutex> lock(mutex_);
  answers_.insert(answers_.end(), mine.begin(), mine.end());
}

std::vector<ModbusLoad::Answer> ModbusLoad::answers() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return answers_;
}

std::vector<double> ModbusLoad::sortedTimes() const {
  std::vector<double> times;
  for (const Answer& a : answers()) times.push_back(a.ms);
  std::sort(times.begin(), times.end());
  return times;
}

double ModbusLoad::percentile(const std::vector<double>& sorted, double p) {
  if (sorted.empty()) return 0;
  const size_t at = size_t(std::clamp(std::ceil(p / 100.0 * double(sorted.size())) - 1, 0.0,
                                      double(sorted.size() - 1)));
  return sorted[at];
}
