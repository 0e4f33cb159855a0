#pragma once
// TIOPort: the program's serial port. Opens a named port exclusively, applies
// line settings given as a mode string ("9600,N,8,2"), and is driven entirely
// by polling: Poll(), called every 10 ms by the main window, hands every
// received byte to OnReceive, one call per byte, in order. Writes are
// asynchronous; the frame is copied. All on the GUI thread, nothing blocks.
//
// A port that fails after opening (adapter pulled, pseudo-terminal closed) is
// closed at once and from then on behaves like one that never opened: Poll
// returns at once, Write writes nothing, and nothing is shown. The poll cycle
// then sees no replies and reports the analyzer as lost.

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
  // Starts an asynchronous write of a copy of the bytes. True when the port
  // took them; false when nothing was written (no port, Count 0 or less, the
  // port failed). Poll reports the end of the write (WriteDone, OnWriteDone).
  virtual bool Write(const uint8_t* Buffer, int32_t Count);
  // Reads and decodes the modem lines; the stored word without a port.
  virtual uint32_t ReadModemStatus();
  virtual void Purge();
  // Services the port: notices modem-line changes and the end of a write,
  // delivers the received bytes. Never blocks; does nothing without an open port.
  virtual void Poll();
  void SetRts(bool On);
  void SetDtr(bool On);

  bool IsOpen() const;
  // The driver seam, for looking at what happened to the port.
  const SerialBackend* Backend() const { return backend_.get(); }

  QString Tag;
  int32_t InQueueSize = 2255;
  int32_t OutQueueSize = 2255;
  QString PortName;
  bool RtsState = false;
  bool DtrState = true;
  bool WriteDone = false;
  uint32_t ModemStatus = 0;
  uint32_t LastModemStatus = 0;
  bool CtsOn = false;
  bool DsrOn = false;
  bool RingOn = false;
  bool RlsdOn = true;
  uint32_t BytesWritten = 0;
  uint32_t BytesRead = 0;
  int32_t AuxValue = 0;

  std::function<void(TIOPort* Sender, uint8_t Value, bool LineError)> OnReceive;
  std::function<void(TIOPort* Sender)> OnWriteDone;
  std::function<void()> OnLineEvent;

  // Bytes delivered by one Poll at most. A real line brings about 9 bytes per
  // 10 ms; the cap only keeps a flooding device from holding the GUI thread.
  static constexpr int kMaxBytesPerPoll = 4096;
  // A port that failed after it was open (an adapter pulled out) is tried
  // again silently every this many polls (a second at one poll per 10 ms).
  static constexpr int kReconnectPolls = 100;

 private:
  // Closes a backend that reported a failure; true when there is none open.
  bool DropFailedPort();
  // Reopens a port lost after opening, without a message; true when open again.
  bool Reconnect();

  std::unique_ptr<SerialBackend> backend_;
  struct Private;
  std::unique_ptr<Private> d_;
};
