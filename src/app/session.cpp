#include "app/session.h"

#include <QThread>

#include "platform/seams.h"
#include "platform/timer.h"
#include "storage/settings_files.h"
#include "storage/settings_records.h"

Session::Session(QObject* parent)
    : QObject(parent), poll_(link_), pollTimer_(new Timer(1000, this)) {
  connect(pollTimer_, &Timer::timeout, &poll_, &PollCycle::tick);
  connect(&poll_, &PollCycle::resultTaken, &results_, &ResultsLog::append);
  connect(&poll_, &PollCycle::dayEnded, this, &Session::onDayEnded);
  connect(&poll_, &PollCycle::linkLost, this, &Session::onLinkLost);
  connect(&link_, &AnalyzerLink::openFinished, this, &Session::onOpenFinished);
}

Session::~Session() = default;

bool Session::loadSettings() {
  deviceRecord.deviceSlot = 1;
  deviceRecord.deviceAddress = 1;
  return ::loadSettings();
}

bool Session::resetSettings() {
  ::resetSettings();
  if (::saveSettings()) return true;
  emit settingsSaveFailed();
  return false;
}

void Session::openPort() {
  pollTimer_->setEnabled(false);
  const QString name = shortStringText(programSettings.portName);
  const PortOpenResult result = link_.open(name);
  if (result != PortOpenResult::Opened && result != PortOpenResult::Connecting)
    emit portOpenFailed(result, name);
  pollTimer_->setEnabled(true);
}

void Session::onOpenFinished(PortOpenResult result) {
  // A connection's result comes while the cycle runs: its box stops the
  // timer as the one at opening does, and gives it back.
  if (result == PortOpenResult::Opened || !link_.port()) return;
  const bool timerWasOn = pollTimer_->isEnabled();
  pollTimer_->setEnabled(false);
  emit portOpenFailed(result, link_.port()->portName());
  pollTimer_->setEnabled(timerWasOn);
}

void Session::start() {
  deviceRecord.deviceAddress = programSettings.netAddress;
  deviceRecord.fuelIndex = 0;
  takeSettings();
  poll_.restart();
  storeRunState();
  pollTimer_->setInterval(1000);
  pollTimer_->setEnabled(true);
}

void Session::takeSettings() {
  const DeviceRecord& d = deviceRecord;
  const int slot = slotIndex(d);
  PollSettings s;
  s.address = d.deviceAddress;
  s.refreshPeriod = programSettings.refreshPeriod;
  s.calibrationTime = d.calibrationTime[slot];
  s.drainTime = d.drainTime[slot];
  s.measurementTime = d.measurementTime[slot];
  s.calibrationInterval = d.calibrationInterval[slot];
  s.cyclePeriod = d.cyclePeriod[slot];
  s.fuelIndex = d.fuelIndex;
  poll_.setSettings(s);
}

void Session::applyOptions() {
  deviceRecord.deviceAddress = programSettings.netAddress;
  takeSettings();
  openPort();
  saveSettings();
}

void Session::applyFuel(int fuelIndex) {
  deviceRecord.fuelIndex = fuelIndex;
  takeSettings();
  saveSettings();
}

void Session::storeRunState() {
  DeviceRecord& d = deviceRecord;
  d.linkState = uint8_t(link_.linkState());
  d.requestKind = uint8_t(poll_.requestKind());
  d.deviceState = uint8_t(poll_.analyzerState());
  d.workMode = uint8_t(poll_.workMode());
  d.logDate = poll_.logDate();
  d.measurement = toRecord(poll_.measurement());
}

bool Session::saveSettings() {
  storeRunState();
  if (::saveSettings()) return true;
  emit settingsSaveFailed();
  return false;
}

bool Session::writeResults(const QString& path, bool clear) {
  // The timer's state is given back rather than switched on, so a write
  // inside opening a file leaves the timer stopped until the load is done.
  const bool timerWasOn = pollTimer_->isEnabled();
  pollTimer_->setEnabled(false);
  const bool written = writeTableFile(results_, path);
  if (!written) emit resultsWriteFailed();
  // A log that could not be written keeps the day's results: they go into
  // the next log or the save offered on closing. The day moves on either way,
  // so the failed write is not repeated every tick.
  if (clear && written) results_.clear();
  poll_.setLogDate(seams::now());
  pollTimer_->setEnabled(timerWasOn);
  return written;
}

void Session::onDayEnded(const QDate& day) { writeResults(dailyLogPath(day), true); }

bool Session::saveDataFile(const QString& path) { return writeResults(path, false); }

TableLoadResult Session::openDataFile(const QString& path) { return loadTableFile(path, results_); }

void Session::clearResults() { results_.clear(); }

void Session::onLinkLost() {
  pollTimer_->setEnabled(false);
  emit analyzerLost();
  pollTimer_->setEnabled(true);
}

void Session::sendStop() {
  poll_.setRequestKind(Request::Stop);
  link_.send(poll_.settings().address, Request::Stop);
  QThread::msleep(100);
}
