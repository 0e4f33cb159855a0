#pragma once
// What SerialPort needs from the platform's driver. The backends are
// QSerialPort for a serial device and QTcpSocket for "tcp://host:port" (the
// same RTU frames through a serial device server); tests put a scripted one in
// their place through the factory.

#include <QString>
#include <cstdint>
#include <functional>
#include <memory>

struct LineSettings {
  int32_t baudRate = 9600;
  char parity = 'N';  // N, E, O, M, S
  int dataBits = 8;
  int stopBits = 2;  // 1 or 2 (1.5 is taken as 2)
};

class SerialBackend {
 public:
  virtual ~SerialBackend() = default;
  // The owner's call to look at the port again: bytes have arrived, the port
  // failed, or an opening under way has ended. Called from the event loop,
  // never from inside one of the backend's own functions. A backend that
  // never notifies is read only when its owner polls.
  virtual void setNotify(std::function<void()> /*notify*/) {}
  // Opens `device` exclusively and discards whatever the driver already holds;
  // on failure false and a reason in `error`. A backend that cannot know at
  // once returns true with isOpening() set, and notifies when it knows.
  virtual bool open(const QString& device, QString* error) = 0;
  virtual bool isOpening() const { return false; }
  virtual bool isOpen() const = 0;
  virtual void close() = 0;
  // Whether the port's current line settings can be read back (the driver
  // knows the device as a serial line).
  virtual bool readState() = 0;
  // Applies line settings, no flow control. False when the driver refuses.
  virtual bool configure(const LineSettings& settings) = 0;
  virtual bool setDtr(bool on) = 0;
  virtual bool setRts(bool on) = 0;
  // Discards everything pending in both directions.
  virtual void purge() = 0;
  // Copies up to `max` received bytes without waiting; the count copied.
  virtual int64_t read(uint8_t* buffer, int64_t max) = 0;
  // Queues a copy of the bytes and starts sending without waiting; false when
  // the port cannot take them.
  virtual bool write(const uint8_t* data, int64_t count) = 0;
  // True once the port has failed after opening (cable pulled, pty closed,
  // connection reset): the owner then treats it as a port without a handle.
  virtual bool failed() const = 0;
  // How many failures (read, write, lost device) the driver reported since the
  // last open. A broken port reports one and is closed at once.
  virtual int failureReports() const = 0;
  // Whether `device`, lost after opening or never opened, may be opened
  // again unasked, and how long to wait between two tries of a lost one.
  virtual bool mayReopen(const QString& /*device*/) const { return true; }
  virtual int reopenIntervalMs() const { return 1000; }
  // Why the last opening failed, in the operator's words, where the port's
  // name alone does not say it (a connection: no such host, refused, no
  // answer, a malformed address); empty otherwise.
  virtual QString openError() const { return {}; }
};

using SerialBackendFactory = std::function<std::unique_ptr<SerialBackend>()>;

// The backend for `device`: a TCP connection for "tcp://host:port", else
// QSerialPort; whatever the factory makes once a test replaced it.
std::unique_ptr<SerialBackend> createSerialBackend(const QString& device);
void setSerialBackendFactory(SerialBackendFactory factory);  // empty: the real ones

// "COM1".."COM8" name /dev/ttyS0../dev/ttyS7 on Linux; any other text is a
// device path (or a tcp:// address). On Windows the name is used as it is.
QString serialDeviceName(const QString& portName);
// "tcp://host:port": the analyzer behind a serial device server.
bool isTcpPortName(const QString& portName);
