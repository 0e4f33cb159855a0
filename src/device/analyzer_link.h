#pragma once
// The line to the analyzer: the serial port (or the connection to a serial
// device server) and the collector of the reply bytes, which the port fills
// as they arrive. The poll cycle sends its requests here and reads the reply
// collected since its last tick. An open failure is returned as a value (or,
// for a connection, signalled when it is known); the device layer shows
// nothing.

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <memory>

#include "device/modbus_rtu.h"
#include "device/serial_port.h"

// What the link counts since its last reset.
struct LinkCounts {
  int64_t bytesSent = 0;
  int64_t bytesReceived = 0;
  int64_t reconnects = 0;  // a lost line opened again
};

class AnalyzerLink : public QObject {
  Q_OBJECT
 public:
  explicit AnalyzerLink(QObject* parent = nullptr);
  ~AnalyzerLink() override;

  // Releases any port and opens `portName` at 9600 baud, 8 data bits, no
  // parity, 2 stop bits, DTR and RTS negated. Connecting: openFinished tells
  // the result later.
  PortOpenResult open(const QString& portName);
  // Negates DTR and RTS and releases the port.
  void close();
  bool isOpen() const;
  // Why the last opening failed, where the port's name alone does not say it
  // (no such host, refused, no answer, a malformed address); empty otherwise.
  QString openError() const { return port_ ? port_->openError() : QString(); }
  // The port, or null when none was opened (or it was closed).
  SerialPort* port() const { return port_.get(); }

  // Sends the request of `kind` to `address` (nothing without an open port);
  // a kind the analyzer does not know sends nothing and leaves the state alone.
  // True when the request went out to the port.
  bool send(uint8_t address, Request kind);

  // The bytes received since the last clearReply().
  const ReplyCollector& reply() const { return reply_; }
  void clearReply() {
    reply_.clear();
    completeTold_ = false;
  }
  // Bytes from the line, in order; the port hands them here.
  void receive(const uint8_t* data, int count);

  // Hands over at once whatever the port holds. The port does so by itself
  // as bytes arrive; a caller that must have them now calls this.
  void service();

  LinkState linkState() const { return state_; }
  void setLinkState(LinkState state) { state_ = state; }

  // With several analyzers on the line each one's reply is kept between its
  // exchanges: taken away when its exchange ends (the collector is then
  // empty for the next), put back before its cycle reads it.
  struct ReplyState {
    ReplyCollector reply;
    double replyTimeMs = -1;
    LinkState state = LinkState(0);
  };
  ReplyState takeReply();
  void putReply(const ReplyState& state);

  const LinkCounts& counts() const { return counts_; }
  void resetCounts() { counts_ = LinkCounts{}; }
  // Milliseconds from the last request written to the last byte received
  // after it; negative before any.
  double replyTimeMs() const { return replyTimeMs_; }

 signals:
  // How an open that returned Connecting ended.
  void openFinished(PortOpenResult result);
  // A lost line was opened again by itself.
  void reopened();
  // A port that could not be opened at first is open now, tried again by itself.
  void openedLater();
  // The reply collected is whole (ReplyCollector::complete()): once a reply.
  void replyComplete();

 private:
  std::unique_ptr<SerialPort> port_;
  ReplyCollector reply_;
  LinkState state_ = LinkState(0);
  LinkCounts counts_;
  QElapsedTimer sinceRequest_;
  double replyTimeMs_ = -1;
  bool completeTold_ = false;
};
