#include "device/Korvex_ModbusRTU_IOPort.h"

#include <QApplication>
#include <QFileInfo>
#include <QStringList>

#include "app/platform_seams.h"
#include "device/serial_backend.h"

struct TIOPort::Private {
  LineSettings settings;
  bool writePending = false;
  bool lost = false;       // was open, then failed
  int pollsSinceLoss = 0;
};

TIOPort::TIOPort(const QString& PortName) : d_(std::make_unique<Private>()) {
  this->PortName = PortName;
  if (Connect(PortName)) Purge();
}

TIOPort::~TIOPort() {
  if (backend_) {
    Purge();
    backend_->Close();
  }
}

bool TIOPort::Connect(const QString& PortName) {
  if (backend_) backend_->Close();
  d_->lost = false;
  this->PortName = PortName;
  d_->settings = LineSettings{};
  d_->writePending = false;
  return Open();
}

bool TIOPort::Open() {
  if (!backend_) backend_ = CreateSerialBackend();
  const auto box = [this](const QString& caption) {
    seams::ShowMessage(QApplication::focusWidget(), seams::MsgIcon::None, caption, PortName);
  };
  QString error;
  if (!backend_->Open(SerialDeviceName(PortName), &error)) {
    box(QStringLiteral("Не могу открыть порт"));
    return false;
  }
  // After either failure below the port stays open: the owner's own
  // SetParameters may still get the line settings through.
  bool result = false;
  if (!backend_->ReadState()) {
    box(QStringLiteral("Не могу получить статус порта"));
  } else if (ApplySettings()) {
    result = true;
    SetRts(false);
    SetDtr(false);
  } else {
    box(QStringLiteral("Не могу инициализировать порт"));
  }
  Purge();
  ReadModemStatus();
  return result;
}

bool TIOPort::ApplySettings() {
  if (!IsOpen() || !backend_->Configure(d_->settings)) return false;
  SetDtr(false);
  SetRts(false);
  return true;
}

bool TIOPort::SetParameters(const QString& Mode) {
  // "baud,parity,data,stop" as the Windows mode strings write it.
  const QStringList parts = Mode.split(QLatin1Char(','));
  if (parts.size() != 4) return false;
  bool ok = false;
  LineSettings s;
  s.BaudRate = parts[0].trimmed().toInt(&ok);
  if (!ok || s.BaudRate <= 0) return false;
  const QString parity = parts[1].trimmed().toUpper();
  if (parity.size() != 1 || !QStringLiteral("NEOMS").contains(parity)) return false;
  s.Parity = parity.at(0).toLatin1();
  s.DataBits = parts[2].trimmed().toInt(&ok);
  if (!ok || s.DataBits < 5 || s.DataBits > 8) return false;
  const QString stop = parts[3].trimmed();
  if (stop == QLatin1String("1"))
    s.StopBits = 1;
  else if (stop == QLatin1String("2") || stop == QLatin1String("1.5"))
    s.StopBits = 2;
  else
    return false;
  d_->settings = s;
  return ApplySettings();
}

bool TIOPort::DropFailedPort() {
  if (!backend_) return true;
  // A backend keeps reporting its failure until it is opened again.
  if (backend_->Failed() && !d_->lost) {
    backend_->Close();
    d_->writePending = false;
    d_->lost = true;
    d_->pollsSinceLoss = 0;
  }
  return !backend_->IsOpen();
}

bool TIOPort::Write(const uint8_t* Buffer, int32_t Count) {
  WriteDone = false;
  if (DropFailedPort() || Count <= 0 || !Buffer) return false;
  const bool ok = backend_->Write(Buffer, Count);
  BytesWritten = ok ? uint32_t(Count) : 0;
  d_->writePending = ok;
  return ok;
}

uint32_t TIOPort::ReadModemStatus() {
  if (IsOpen()) {
    ModemStatus = backend_->ModemLines();
    CtsOn = ModemStatus & kModemCts;
    DsrOn = ModemStatus & kModemDsr;
    RingOn = ModemStatus & kModemRing;
    RlsdOn = ModemStatus & kModemRlsd;
  }
  return ModemStatus;
}

void TIOPort::Purge() {
  if (IsOpen()) backend_->Purge();
}

bool TIOPort::Reconnect() {
  if (++d_->pollsSinceLoss < kReconnectPolls) return false;
  d_->pollsSinceLoss = 0;
  const QString device = SerialDeviceName(PortName);
  // A pseudo-terminal's number goes to whatever program asks next: never
  // take one over unasked (it may be somebody's terminal session).
  if (QFileInfo(device).canonicalFilePath().startsWith(QLatin1String("/dev/pts/"))) return false;
  QString error;
  if (!backend_->Open(device, &error)) return false;
  if (!backend_->ReadState() || !backend_->Configure(d_->settings)) {
    backend_->Close();
    return false;
  }
  d_->lost = false;
  SetRts(false);
  SetDtr(false);
  Purge();
  return true;
}

void TIOPort::Poll() {
  // A line that went away (a USB adapter pulled, the analyzer's converter
  // switched off) comes back by itself once the device is there again.
  if (DropFailedPort() && !(d_->lost && Reconnect())) return;

  // Line events: a change of the modem lines.
  const uint32_t status = ReadModemStatus();
  if (status != LastModemStatus) {
    LastModemStatus = status;
    if (OnLineEvent) OnLineEvent();
  }

  // The end of the last write.
  if (d_->writePending && IsOpen() && backend_->BytesToWrite() == 0) {
    d_->writePending = false;
    WriteDone = true;
    if (OnWriteDone) OnWriteDone(this);
  }

  // Every byte that has arrived, one handler call per byte, in order.
  uint8_t buffer[256];
  int delivered = 0;
  while (delivered < kMaxBytesPerPoll && !DropFailedPort()) {
    const int64_t n = backend_->Read(buffer, sizeof buffer);
    if (n <= 0) break;
    BytesRead = uint32_t(n);
    delivered += int(n);
    for (int64_t i = 0; i < n; ++i)
      if (OnReceive) OnReceive(this, buffer[i], false);
  }
  DropFailedPort();
}

void TIOPort::SetRts(bool On) {
  if (IsOpen() && backend_->SetRts(On)) RtsState = On;
}

void TIOPort::SetDtr(bool On) {
  if (IsOpen() && backend_->SetDtr(On)) DtrState = On;
}

bool TIOPort::IsOpen() const { return backend_ && backend_->IsOpen(); }
