#pragma once
// The program's serial port: opened exclusively by name, line settings given
// as a mode string ("9600,N,8,2"). What arrives is handed to onReceive in
// chunks, in order, as the driver reports it (no polling timer); poll() does
// the same at once for a caller that wants it now. Writes are asynchronous
// and copy the frame. All on the GUI thread; nothing blocks and nothing is
// shown: an open failure is returned (or, for a connection still being made,
// reported through onOpenFinished) for the caller to report.
//
// "tcp://host:port" names the analyzer behind a serial device server: the
// same frames over a TCP connection, made without blocking.
//
// A port that fails after opening (adapter pulled, pseudo-terminal closed,
// connection reset) is closed at once and from then on behaves like one that
// never opened; a real serial device is tried again silently once a second, a
// connection every few seconds, until it is back. A port that could not be
// opened at all (the adapter not plugged in yet, the device server still
// starting) is tried again silently every kOpenRetryIntervalMs; the failure
// of the first try is the caller's to report, once. A pseudo-terminal and a
// malformed name are never tried again unasked.

#include <QString>
#include <cstdint>
#include <functional>
#include <memory>

#include "device/serial_backend.h"

class Timer;

enum class PortOpenResult {
  Opened,
  CannotOpen,        // missing or in use; a connection refused or not made in time
  CannotGetStatus,   // open, but the driver does not know it as a serial line
  CannotInitialize,  // open, but the line settings were refused
  Connecting,        // a connection is being made: onOpenFinished tells how it ended
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
  // True from an open() that returned Connecting until onOpenFinished.
  bool isOpening() const { return opening_; }
  // "9600,N,8,2": baud, parity, data bits, stop bits; no flow control. False,
  // and nothing changed, for a malformed string or a port that refuses it.
  // Taken over by a port that is still being opened once it is open.
  bool setParameters(const QString& mode);
  // Starts an asynchronous write of a copy of the bytes; false when nothing
  // was written (no port, a count of 0 or less, the port failed).
  bool write(const uint8_t* data, int32_t count);
  void purge();
  // Finishes an opening the driver has decided, notices a failed port and
  // delivers every byte that has arrived (at most kMaxBytesPerPoll). Never
  // blocks. Runs by itself whenever the driver reports something.
  void poll();
  // One try to open a lost port (or one that could not be opened) again, as
  // the reopen timer makes it.
  void reopen();
  // Runs only while a port that may be opened again unasked is lost or not
  // open yet.
  Timer* reopenTimer() const { return reopenTimer_.get(); }
  bool isLost() const { return lost_; }
  // The opening failed and is tried again.
  bool isWaitingToOpen() const { return waiting_; }
  // Why the last opening failed, where the name alone does not say it
  // (SerialBackend::openError); empty otherwise.
  QString openError() const;
  void setDtr(bool on);
  void setRts(bool on);
  bool dtr() const { return dtr_; }
  bool rts() const { return rts_; }

  bool isOpen() const;
  QString portName() const { return portName_; }
  // The driver seam, for looking at what happened to the port.
  const SerialBackend* backend() const { return backend_.get(); }

  std::function<void(const uint8_t* data, int count)> onReceive;
  // The end of an opening that returned Connecting; the last thing the port
  // does in that turn of the event loop.
  std::function<void(PortOpenResult result)> onOpenFinished;
  // A lost port is open again.
  std::function<void()> onReopened;
  // A port whose opening had failed is open now.
  std::function<void()> onOpenedLater;

  static constexpr int kOpenRetryIntervalMs = 3000;

  // A real line brings about 9 bytes per 10 ms; the cap only keeps a flooding
  // device from holding the GUI thread.
  static constexpr int kMaxBytesPerPoll = 4096;

 private:
  PortOpenResult afterOpen();
  bool applySettings();
  void deliver();
  // Closes a backend that reported a failure; true when there is none open.
  bool dropFailedPort();
  void finishReopen();
  // After a failed opening: tried again by the timer where that may succeed.
  void waitToOpen();

  std::unique_ptr<SerialBackend> backend_;
  std::unique_ptr<Timer> reopenTimer_;
  QString portName_;
  LineSettings settings_;
  bool dtr_ = true;
  bool rts_ = false;
  bool opening_ = false;
  bool reopening_ = false;
  bool reopenable_ = false;  // as the driver judged the device when it opened
  bool lost_ = false;        // was open, then failed
  bool waiting_ = false;     // never opened: tried again
};
