#include "device/analyzer_link.h"

AnalyzerLink::AnalyzerLink(QObject* parent) : QObject(parent) {}

AnalyzerLink::~AnalyzerLink() { close(); }

PortOpenResult AnalyzerLink::open(const QString& portName) {
  close();
  port_ = std::make_unique<SerialPort>();
  port_->onReceive = [this](const uint8_t* data, int count) { receive(data, count); };
  port_->onReopened = [this] {
    ++counts_.reconnects;
    emit reopened();
  };
  port_->onOpenedLater = [this] { emit openedLater(); };
  port_->onOpenFinished = [this](PortOpenResult result) { emit openFinished(result); };
  const PortOpenResult result = port_->open(portName);
  port_->setParameters(QStringLiteral("9600,N,8,2"));
  return result;
}

void AnalyzerLink::close() {
  if (!port_) return;
  port_->setDtr(false);
  port_->setRts(false);
  port_.reset();
}

bool AnalyzerLink::isOpen() const { return port_ && port_->isOpen(); }

bool AnalyzerLink::send(uint8_t address, Request kind) {
  if (uint8_t(kind) > uint8_t(Request::Stop)) return false;
  const RequestFrame frame = buildRequest(address, kind);
  replyTimeMs_ = -1;
  const bool sent = port_ && port_->write(frame.data(), int32_t(frame.size()));
  if (sent) {
    counts_.bytesSent += int64_t(frame.size());
    sinceRequest_.start();
  } else {
    sinceRequest_.invalidate();
  }
  state_ = LinkState::Sent;
  return sent;
}

void AnalyzerLink::receive(const uint8_t* data, int count) {
  if (count <= 0) return;
  counts_.bytesReceived += count;
  if (sinceRequest_.isValid()) replyTimeMs_ = double(sinceRequest_.nsecsElapsed()) / 1e6;
  state_ = reply_.append(data, count) ? LinkState::Receiving : LinkState::ByteLost;
  if (!completeTold_ && reply_.complete()) {
    completeTold_ = true;
    emit replyComplete();
  }
}

void AnalyzerLink::service() {
  if (port_) port_->poll();
}

AnalyzerLink::ReplyState AnalyzerLink::takeReply() {
  ReplyState taken{reply_, replyTimeMs_, state_};
  clearReply();
  replyTimeMs_ = -1;
  sinceRequest_.invalidate();
  return taken;
}

void AnalyzerLink::putReply(const ReplyState& state) {
  reply_ = state.reply;
  replyTimeMs_ = state.replyTimeMs;
  state_ = state.state;
  completeTold_ = reply_.complete();
}
