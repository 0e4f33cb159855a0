#pragma once
// A Modbus TCP client of the tests' own on a plain socket: it encodes and
// decodes the frames itself, so the server is checked against the protocol
// and not against libmodbus' own reading of it. It can also send what no
// client library would: garbage, half frames, several frames at once. Every
// wait has a cap; blocking calls only, so it runs in threads of its own too.

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

class RawModbusClient {
 public:
  RawModbusClient() = default;
  ~RawModbusClient();
  RawModbusClient(const RawModbusClient&) = delete;
  RawModbusClient& operator=(const RawModbusClient&) = delete;

  // Connects to host:port, from the loopback address `source` when given
  // (127.0.0.2 is another machine to the server). True when the connection
  // was made: a refused client is accepted first and closed then.
  bool connect(quint16 port, const QString& source = {}, const QString& host = QStringLiteral("127.0.0.1"));
  void close();
  bool isConnected() const { return fd_ >= 0; }

  // The MBAP frame of a request PDU (function code first).
  static QByteArray frame(uint16_t transaction, uint8_t unit, const QByteArray& pdu);
  static QByteArray readPdu(int function, int address, int count);

  bool send(const QByteArray& bytes);
  // One whole frame as the server sent it, or nothing within `timeoutMs`
  // (or when the connection closed).
  std::optional<QByteArray> receiveFrame(int timeoutMs = 5000);

  struct Reply {
    uint16_t transaction = 0;
    int unit = 0;
    int function = 0;   // as sent back: with 0x80 for an exception
    int exception = 0;  // 0: none
    std::vector<uint16_t> registers;
  };
  // Sends the PDU to `unit` and waits for the reply of the same transaction.
  std::optional<Reply> call(uint8_t unit, const QByteArray& pdu, int timeoutMs = 5000);
  std::optional<Reply> read(uint8_t unit, int function, int address, int count, int timeoutMs = 5000);

  // Whether the server closed the connection within `timeoutMs` (end of
  // stream or reset); bytes before that are dropped.
  bool closedByServer(int timeoutMs = 5000);

  static std::optional<Reply> decode(const QByteArray& frame);

 private:
  int fd_ = -1;
  uint16_t transaction_ = 0;
  QByteArray pending_;
};
