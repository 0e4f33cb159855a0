#pragma once
// TIOPort: the program's serial port. Opens a named port exclusively, applies
// line settings given as a mode string ("9600,N,8,2"), and is driven entirely
// by polling: Poll(), called every 10 ms by the main window, hands every
// received byte to OnReceive, one call per byte, in order. Writes are
// asynchronous; the frame is copied. All on the GUI thread, nothing blocks.

#include <QString>
#include <cstdint>
#include <functional>
#include <memory>

class SerialBackend;

class TIOPort {
 public:
  explicit TIOPort(const QString& PortName);
  virtual ~TIOPort();

  TIOPort(const TIOPort&) = delete;
  TIOPort& operator=(const TIOPort&) = delete;

  // Closes the port if open and opens `PortName` anew.
  bool Connect(const QString& PortName);
  // Opens PortName and arms it; on failure one message box titled with the
  // failure and showing the port name.
  virtual bool Open();
  virtual bool ApplySettings();
  // "9600,N,8,2": baud, parity, data bits, stop bits; no flow control.
  bool SetParameters(const QString& Mode);
  // Starts an asynchronous write of a copy of the bytes; false when nothing
  // was written at once (no port, Count 0, still in progress or failed).
  virtual bool Write(const uint8_t* Buffer, int32_t Count);
  virtual uint32_t ReadModemStatus();
  virtual void Purge();
  // Services the port: delivers the received bytes, notices the end of a
  // write. Never blocks; does nothing without an open port.
  virtual void Poll();
  void SetRts(bool On);
  void SetDtr(bool On);

  bool IsOpen() const;

  QString Tag;
  int32_t InQueueSize = 2255;
  int32_t OutQueueSize = 2255;
  QString PortName;
  bool RtsState = false;
  bool DtrState = true;
  bool WriteDone = false;
  uint32_t ModemStatus = 0;
  uint32_t BytesWritten = 0;
  uint32_t BytesRead = 0;
  int32_t AuxValue = 0;

  std::function<void(TIOPort* Sender, uint8_t Value, bool LineError)> OnReceive;
  std::function<void(TIOPort* Sender)> OnWriteDone;
  std::function<void()> OnLineEvent;

 private:
  std::unique_ptr<SerialBackend> backend_;
  struct Private;
  std::unique_ptr<Private> d_;
};
