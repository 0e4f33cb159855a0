#pragma once
// What TIOPort needs from the platform's serial driver. The real backend is
// QSerialPort; tests put a scripted one in its place through the factory.

#include <QString>
#include <cstdint>
#include <functional>
#include <memory>

struct LineSettings {
  int32_t BaudRate = 9600;
  char Parity = 'N';  // N, E, O, M, S
  int DataBits = 8;
  int StopBits = 2;   // 1 or 2 (1.5 is taken as 2)
};

// Modem status bits, as the Windows driver reports them.
inline constexpr uint32_t kModemCts = 0x10;
inline constexpr uint32_t kModemDsr = 0x20;
inline constexpr uint32_t kModemRing = 0x40;
inline constexpr uint32_t kModemRlsd = 0x80;

class SerialBackend {
 public:
  virtual ~SerialBackend() = default;
  // Opens `device` exclusively and discards whatever the driver already holds;
  // on failure false and a reason in `error`.
  virtual bool Open(const QString& device, QString* error) = 0;
  virtual bool IsOpen() const = 0;
  virtual void Close() = 0;
  // Whether the port's current line settings can be read back (the driver
  // knows the device as a serial line).
  virtual bool ReadState() = 0;
  // Applies line settings, no flow control. False when the driver refuses.
  virtual bool Configure(const LineSettings& settings) = 0;
  virtual bool SetDtr(bool on) = 0;
  virtual bool SetRts(bool on) = 0;
  // CTS, DSR, RING and RLSD as kModem* bits; 0 where the line has none.
  virtual uint32_t ModemLines() = 0;
  // Discards everything pending in both directions.
  virtual void Purge() = 0;
  // Copies up to `max` received bytes without waiting; the count copied.
  virtual int64_t Read(uint8_t* buffer, int64_t max) = 0;
  // Queues a copy of the bytes for sending and starts sending without
  // waiting; false when the port cannot take them.
  virtual bool Write(const uint8_t* data, int64_t count) = 0;
  // Bytes handed to Write that are not yet passed to the driver.
  virtual int64_t BytesToWrite() const = 0;
  // True once the port has failed after opening (cable pulled, pty closed):
  // the owner then treats it as a port without a handle.
  virtual bool Failed() const = 0;
  // How many failures (read, write, lost device) the driver reported since
  // the last Open. A broken port reports one and is closed at once.
  virtual int FailureReports() const = 0;
};

using SerialBackendFactory = std::function<std::unique_ptr<SerialBackend>()>;

// The backend for a new TIOPort: QSerialPort unless a test replaced it.
std::unique_ptr<SerialBackend> CreateSerialBackend();
void SetSerialBackendFactory(SerialBackendFactory factory);  // empty: QSerialPort

// "COM1".."COM8" name /dev/ttyS0../dev/ttyS7 on Linux; any other text is a
// device path. On Windows the name is used as it is.
QString SerialDeviceName(const QString& portName);
