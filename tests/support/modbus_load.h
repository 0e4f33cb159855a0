#pragma once
// Many Modbus TCP clients reading a server at a steady rate, each in a thread
// of its own (RawModbusClient), as the control systems of a plant would: a
// connection each, kept open, one read of the same registers every period.
// Each answer's time and registers are kept for the caller to judge.

#include <QtGlobal>
#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

class ModbusLoad {
 public:
  struct Read {
    int unit = 1;
    int function = 4;
    int address = 0;
    int count = 66;
  };
  struct Answer {
    double ms = 0;  // from the request sent to the whole answer received
    std::vector<uint16_t> registers;
  };

  ModbusLoad(quint16 port, int clients, int readsPerSecond, Read read);
  // Registers 0..65 of unit 1 by function 4: the status and the last result.
  ModbusLoad(quint16 port, int clients, int readsPerSecond);
  ~ModbusLoad();
  ModbusLoad(const ModbusLoad&) = delete;
  ModbusLoad& operator=(const ModbusLoad&) = delete;

  void start();
  void stop();

  // Reads that failed: no connection, no answer within 5 s, an exception.
  int failures() const { return failures_; }
  std::vector<Answer> answers() const;
  // Answer times in milliseconds, sorted.
  std::vector<double> sortedTimes() const;
  static double percentile(const std::vector<double>& sorted, double p);

 private:
  void run(int index);

  quint16 port_;
  int clients_;
  int periodMs_;
  Read read_;
  std::atomic<bool> stopping_{false};
  std::atomic<int> failures_{0};
  std::vector<std::thread> threads_;
  mutable std::mutex mutex_;
  std::vector<Answer> answers_;
};
