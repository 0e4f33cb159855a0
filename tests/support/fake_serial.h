#pragma once
// A scripted serial line in place of QSerialPort: it records what the program
// writes and hands the program the bytes a test queues. The line outlives the
// ports opened on it, so a test sees a port reopened by the options dialog.

#include <QString>
#include <QStringList>
#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

#include "device/serial_backend.h"

struct FakeSerialLine {
  // What happened.
  QStringList opened;                       // device names, one per open
  int openCount = 0;
  int closeCount = 0;
  int purgeCount = 0;
  std::vector<std::vector<uint8_t>> writes; // one entry per Write
  LineSettings settings;
  bool dtr = true;
  bool rts = true;
  bool isOpen = false;

  // What the line does.
  bool refuseOpen = false;       // "device missing or busy"
  bool refuseStatus = false;     // the current line settings cannot be read
  bool refuseSettings = false;   // the driver refuses the line settings
  bool broken = false;           // failed after opening (cable pulled)
  bool reopenable = true;        // a lost port may be opened again unasked
  std::deque<uint8_t> incoming;  // bytes waiting to be read; a purge discards them
  int readCalls = 0;             // Read calls while open

  // The notification of the port opened last, as the driver calls it from
  // the event loop; empty once that port is gone.
  std::function<void()> notify;
  const void* notifyOwner = nullptr;

  void queue(const std::vector<uint8_t>& bytes) { incoming.insert(incoming.end(), bytes.begin(), bytes.end()); }
  // Bytes arrive and the driver tells the port, as between two turns of the
  // event loop.
  void feed(const std::vector<uint8_t>& bytes) {
    queue(bytes);
    if (notify) notify();
  }
  // The line fails after opening and the driver tells the port.
  void fail() {
    broken = true;
    if (notify) notify();
  }
  // The last frame written, or an empty one.
  std::vector<uint8_t> lastWrite() const { return writes.empty() ? std::vector<uint8_t>{} : writes.back(); }
};

// Makes every serial port opened from now on use `line` (until clearFakeSerial).
void installFakeSerial(FakeSerialLine& line);
void clearFakeSerial();
