#include "acquisition/line_scheduler.h"

#include "platform/timer.h"

LineScheduler::LineScheduler(AnalyzerLink& link, QObject* parent)
    : QObject(parent), link_(link), replyTimer_(new Timer(250, this)), gapTimer_(new Timer(5, this)) {
  connect(&link_, &AnalyzerLink::replyComplete, this, [this] {
    if (current_ < 0) return;
    replyTimer_->setEnabled(false);
    endExchange();
  });
  connect(replyTimer_, &Timer::timeout, this, [this] {
    replyTimer_->setEnabled(false);
    if (current_ >= 0) endExchange();
  });
  connect(gapTimer_, &Timer::timeout, this, [this] {
    gapTimer_->setEnabled(false);
    next();
  });
}

LineScheduler::~LineScheduler() = default;

void LineScheduler::setCycles(const std::vector<PollCycle*>& cycles) {
  slots_.clear();
  for (PollCycle* c : cycles) slots_.push_back(Slot{c, {}});
  order_.clear();
  at_ = 0;
  current_ = -1;
  running_ = false;
  replyTimer_->setEnabled(false);
  gapTimer_->setEnabled(false);
}

bool LineScheduler::isLost(int slot) const {
  return slot >= 0 && slot < slotCount() && slots_[size_t(slot)].cycle->silentTicks() > kSilentTicksLimit;
}

void LineScheduler::startRound() {
  if (running_) {
    roundDue_ = true;
    return;
  }
  running_ = true;
  ++rounds_;
  order_.clear();
  // Commands first: a mode asked for is taken over at its analyzer's next
  // accepted reply, and its command goes out at that tick.
  for (int pass = 0; pass < 2; ++pass)
    for (int i = 0; i < slotCount(); ++i) {
      const bool command = slots_[size_t(i)].cycle->modeRequest() != ModeRequest::None;
      if (command != (pass == 0)) continue;
      // A lost analyzer that answered its last request is asked again at
      // once: its reply is read at its next tick.
      const bool answered = slots_[size_t(i)].reply.reply.length() > 0;
      if (isLost(i) && !answered && rounds_ % timing_.lostEvery != 0) continue;
      order_.push_back(i);
    }
  at_ = 0;
  next();
}

void LineScheduler::next() {
  if (at_ >= order_.size()) {
    running_ = false;
    emit roundFinished();
    if (roundDue_) {
      roundDue_ = false;
      startRound();
    }
    return;
  }
  const int slot = order_[at_++];
  Slot& s = slots_[size_t(slot)];
  link_.putReply(s.reply);
  s.reply = {};
  current_ = slot;
  replyTimer_->setInterval(timing_.replyTimeoutMs);
  replyTimer_->setEnabled(true);
  s.cycle->tick();
  emit slotTicked(slot);
  // Nothing went out (the port is closed): no reply to wait for.
  if (current_ == slot && !link_.isOpen()) {
    replyTimer_->setEnabled(false);
    endExchange();
  }
}

void LineScheduler::endExchange() {
  const int slot = current_;
  current_ = -1;
  AnalyzerLink::ReplyState reply = link_.takeReply();
  // A reply from another address is not this analyzer's (a late answer of
  // the one before, or noise): it is kept as what it is, a reply that fails.
  if (reply.reply.length() > 0 && reply.reply[0] != slots_[size_t(slot)].cycle->settings().address) {
    ReplyCollector spoilt;
    const uint8_t mark = 0;
    spoilt.append(&mark, 1);
    reply.reply = spoilt;
  }
  slots_[size_t(slot)].reply = reply;
  gapTimer_->setInterval(timing_.gapMs);
  gapTimer_->setEnabled(true);
}
