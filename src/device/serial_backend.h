#pragma once
// What SerialPort needs from the platform's serial driver. The real backend
// is QSerialPort; tests put a scripted one in its place through the factory.

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
  // Opens `device` exclusively and discards whatever the driver already holds;
  // on failure false and a reason in `error`.
  virtual bool open(const QString& device, QString* error) = 0;
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
  // True once the port has failed after opening (cable pulled, pty closed):
  // the owner then treats it as a port without a handle.
  virtual bool failed() const = 0;
  // How many failures (read, write, lost device) the driver reported since the
  // last open. A broken port reports one and is closed at once.
  virtual int failureReports() const = 0;
};

using SerialBackendFactory = std::function<std::unique_ptr<SerialBackend>()>;

// The backend for a new SerialPort: QSerialPort unless a test replaced it.
std::unique_ptr<SerialBackend> createSerialBackend();
void setSerialBackendFactory(SerialBackendFactory factory);  // empty: QSerialPort

// "COM1".."COM8" name /dev/ttyS0../dev/ttyS7 on Linux; any other text is a
// device path. On Windows the name is used as it is.
QString serialDeviceName(const QString& portName);
