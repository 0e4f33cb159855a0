#include "support/fake_serial.h"

#include <algorithm>

namespace {

class FakeSerialBackend final : public SerialBackend {
 public:
  explicit FakeSerialBackend(FakeSerialLine& line) : line_(line) {}

  bool Open(const QString& device, QString* error) override {
    line_.opened << device;
    if (line_.refuseOpen) {
      if (error) *error = QStringLiteral("No such file or directory");
      return false;
    }
    ++line_.openCount;
    line_.isOpen = open_ = true;
    return true;
  }
  bool IsOpen() const override { return open_ && !line_.broken; }
  void Close() override {
    if (!open_) return;
    open_ = line_.isOpen = false;
    ++line_.closeCount;
  }
  bool ReadState() override { return IsOpen() && !line_.refuseStatus; }
  bool Configure(const LineSettings& s) override {
    if (!IsOpen() || line_.refuseSettings) return false;
    line_.settings = s;
    return true;
  }
  bool SetDtr(bool on) override {
    if (!IsOpen()) return false;
    line_.dtr = on;
    return true;
  }
  bool SetRts(bool on) override {
    if (!IsOpen()) return false;
    line_.rts = on;
    return true;
  }
  uint32_t ModemLines() override { return IsOpen() ? line_.modemLines : 0; }
  void Purge() override {
    if (!IsOpen()) return;
    ++line_.purgeCount;
    line_.incoming.clear();
  }
  int64_t Read(uint8_t* buffer, int64_t max) override {
    if (!IsOpen()) return 0;
    ++line_.readCalls;
    int64_t n = 0;
    while (n < max && !line_.incoming.empty()) {
      buffer[n++] = line_.incoming.front();
      line_.incoming.pop_front();
    }
    return n;
  }
  bool Write(const uint8_t* data, int64_t count) override {
    if (!IsOpen() || count <= 0) return false;
    line_.writes.emplace_back(data, data + count);
    return true;
  }
  int64_t BytesToWrite() const override { return IsOpen() ? line_.bytesToWrite : 0; }
  bool Failed() const override { return open_ && line_.broken; }
  int FailureReports() const override { return open_ && line_.broken ? 1 : 0; }

 private:
  FakeSerialLine& line_;
  bool open_ = false;
};

}  // namespace

void InstallFakeSerial(FakeSerialLine& line) {
  SetSerialBackendFactory([&line] { return std::make_unique<FakeSerialBackend>(line); });
}

void ClearFakeSerial() { SetSerialBackendFactory({}); }
