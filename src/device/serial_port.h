#pragma once
// The program's serial port: opened exclusively by name, line settings given
// as a mode string ("9600,N,8,2"), serviced by poll(), which hands what has
// arrived to onReceive in chunks, in order. Writes are asynchronous and copy
// the frame. All on the GUI thread; nothing blocks and nothing is shown: an
// open failure is returned as a value for the caller to report.
//
// A port that fails after opening (adapter pulled, pseudo-terminal closed) is
// closed at once and from then on behaves like one that never opened; a real
// serial device is tried again silently once a second until it is back.

#include <QString>
#include <cstdint>
#include <functional>
#include <memory>

#include "device/serial_backend.h"

enum class PortOpenResult {
  Opened,
  CannotOpen,        // missing or in use
  CannotGetStatus,   // open, but the driver does not know it as a serial line
  CannotInitialize,  // open, but the line settings were refused
};

class SerialPort {
 public:
  SerialPort();
  ~SerialPort();  // purges and closes

  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  // Closes the port if open and opens `portName` with the current line
  // settings and DTR and RTS negated. After CannotGetStatus and
  // CannotInitialize the port stays open: setParameters may still succeed.
  PortOpenResult open(const QString& portName);
  // "9600,N,8,2": baud, parity, data bits, stop bits; no flow control. False,
  // and nothing changed, for a malformed string or a port that refuses it.
  bool setParameters(const QString& mode);
  // Starts an asynchronous write of a copy of the bytes; false when nothing
  // was written (no port, a count of 0 or less, the port failed).
  bool write(const uint8_t* data, int32_t count);
  void purge();
  // Reopens a lost port when its time has come, then delivers every byte that
  // has arrived (at most kMaxBytesPerPoll). Never blocks.
  void poll();
  void setDtr(bool on);
  void setRts(bool on);
  bool dtr() const { return dtr_; }
  bool rts() const { return rts_; }

  bool isOpen() const;
  QString portName() const { return portName_; }
  // The driver seam, for looking at what happened to the port.
  const SerialBackend* backend() const { return backend_.get(); }

  std::function<void(const uint8_t* data, int count)> onReceive;

  // A real line brings about 9 bytes per 10 ms; the cap only keeps a flooding
  // device from holding the GUI thread.
  static constexpr int kMaxBytesPerPoll = 4096;
  // A port lost after opening is tried again every this many polls (a second
  // at one poll per 10 ms).
  static constexpr int kReconnectPolls = 100;

 private:
  bool applySettings();
  // Closes a backend that reported a failure; true when there is none open.
  bool dropFailedPort();
  bool reconnect();

  std::unique_ptr<SerialBackend> backend_;
  QString portName_;
  LineSettings settings_;
  bool dtr_ = true;
  bool rts_ = false;
  bool lost_ = false;  // was open, then failed
  int pollsSinceLoss_ = 0;
};
