#pragma once
// The line to the analyzer: the serial port, the collector of the reply bytes
// and the port service that moves what arrives into it. The poll cycle sends
// its requests here and reads the reply collected since its last tick. An
// open failure is returned as a value; the device layer shows nothing.

#include <QObject>
#include <QString>
#include <memory>

#include "device/modbus_rtu.h"
#include "device/serial_port.h"

class Timer;

class AnalyzerLink : public QObject {
  Q_OBJECT
 public:
  explicit AnalyzerLink(QObject* parent = nullptr);
  ~AnalyzerLink() override;

  // Releases any port and opens `portName` at 9600 baud, 8 data bits, no
  // parity, 2 stop bits, DTR and RTS negated. The port service runs from then
  // on, also when the port could not be opened.
  PortOpenResult open(const QString& portName);
  // Negates DTR and RTS and releases the port.
  void close();
  bool isOpen() const;
  // The port, or null when none was opened (or it was closed).
  SerialPort* port() const { return port_.get(); }

  // Sends the request of `kind` to `address` (nothing without an open port);
  // a kind the analyzer does not know sends nothing and leaves the state alone.
  void send(uint8_t address, Request kind);

  // The bytes received since the last clearReply().
  const ReplyCollector& reply() const { return reply_; }
  void clearReply() { reply_.clear(); }
  // Bytes from the line, in order; the port service hands them here.
  void receive(const uint8_t* data, int count);

  // One run of the port service, every 10 ms.
  void service();
  Timer* serviceTimer() const { return serviceTimer_; }

  LinkState linkState() const { return state_; }
  void setLinkState(LinkState state) { state_ = state; }

 private:
  std::unique_ptr<SerialPort> port_;
  ReplyCollector reply_;
  Timer* serviceTimer_;
  LinkState state_ = LinkState(0);
};
