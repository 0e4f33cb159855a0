#include "support/fake_serial.h"

#include <algorithm>

namespace {

class FakeSerialBackend final : public SerialBackend {
 public:
  explicit FakeSerialBackend(FakeSerialLine& line) : line_(line) {}
  ~FakeSerialBackend() override {
    if (line_.notifyOwner == this) {
      line_.notify = nullptr;
      line_.notifyOwner = nullptr;
    }
  }

  void setNotify(std::function<void()> notify) override {
    line_.notify = std::move(notify);
    line_.notifyOwner = this;
  }

  bool open(const QString& device, QString* error) override {
    line_.opened << device;
    if (line_.refuseOpen) {
      if (error) *error = QStringLiteral("No such file or directory");
      return false;
    }
    ++line_.openCount;
    line_.isOpen = open_ = true;
    return true;
  }
  bool isOpen() const override { return open_ && !line_.broken; }
  void close() override {
    if (!open_) return;
    open_ = line_.isOpen = false;
    ++line_.closeCount;
  }
  bool readState() override { return isOpen() && !line_.refuseStatus; }
  bool configure(const LineSettings& s) override {
    if (!isOpen() || line_.refuseSettings) return false;
    line_.settings = s;
    return true;
  }
  bool setDtr(bool on) override {
    if (!isOpen()) return false;
    line_.dtr = on;
    return true;
  }
  bool setRts(bool on) override {
    if (!isOpen()) return false;
    line_.rts = on;
    return true;
  }
  void purge() override {
    if (!isOpen()) return;
    ++line_.purgeCount;
    line_.incoming.clear();
  }
  int64_t read(uint8_t* buffer, int64_t max) override {
    if (!isOpen()) return 0;
    ++line_.readCalls;
    int64_t n = 0;
    while (n < max && !line_.incoming.empty()) {
      buffer[n++] = line_.incoming.front();
      line_.incoming.pop_front();
    }
    return n;
  }
  bool write(const uint8_t* data, int64_t count) override {
    if (!isOpen() || count <= 0) return false;
    line_.writes.emplace_back(data, data + count);
    return true;
  }
  bool failed() const override { return open_ && line_.broken; }
  int failureReports() const override { return open_ && line_.broken ? 1 : 0; }
  bool mayReopen(const QString&) const override { return line_.reopenable; }

 private:
  FakeSerialLine& line_;
  bool open_ = false;
};

}  // namespace

void installFakeSerial(FakeSerialLine& line) {
  setSerialBackendFactory([&line] { return std::make_unique<FakeSerialBackend>(line); });
}

void clearFakeSerial() { setSerialBackendFactory({}); }
