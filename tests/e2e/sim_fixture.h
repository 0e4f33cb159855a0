#pragma once
// End-to-end fixture: the real serial port (QSerialPort) against the analyzer
// simulator on a pseudo-terminal (or the real connection to it over TCP), with
// the fixture's recorded message boxes and test clock. For the whole program:
// startProgramOnSim(), then runTick() drives one poll tick and spins the event
// loop until the reply is in. A tick is a second of the test clock for the
// port's reopen timer too.

#include <gtest/gtest.h>

#include <QRegularExpression>
#include <QStringList>
#include <functional>
#include <memory>

#include "device/serial_port.h"
#include "platform/timer.h"
#include "storage/settings_records.h"
#include "support/fake_serial.h"
#include "support/korvex_fixture.h"
#include "support/sim_process.h"
#include "support/test_settings.h"
#include "data/results_log.h"

#ifndef KORVEX_SIM_PATH
#define KORVEX_SIM_PATH ""
#endif

// The platform timers run by the clock, as in the program, while it lives.
class RealTimers {
 public:
  RealTimers() { Timer::setManualForTesting(false); }
  ~RealTimers() { Timer::setManualForTesting(true); }
};

class SimFixture : public KorvexFixture {
 protected:
  void SetUp() override {
    KorvexFixture::SetUp();
    clearFakeSerial();  // the real QSerialPort backend
  }
  void TearDown() override {
    KorvexFixture::TearDown();  // closes the program's port first
    if (sim_) sim_->stop();
  }

  // Starts the simulator; fails the test when it cannot.
  void startSim(const QStringList& args = {}) {
    ASSERT_STRNE(KORVEX_SIM_PATH, "") << "built without the analyzer simulator (KORVEX_BUILD_TOOLS)";
    sim_ = std::make_unique<SimProcess>(QStringLiteral(KORVEX_SIM_PATH));
    ASSERT_TRUE(sim_->start(args)) << sim_->errorOutput().toStdString();
  }

  // A simulator answering at once, and settings files for a program run
  // elsewhere (the service): a result at every tick, no zero setting first.
  void startSimForResultsEverySecond() {
    startSim({QStringLiteral("--zero"), QStringLiteral("0"), QStringLiteral("--min-replies"), QStringLiteral("1")});
    ASSERT_TRUE(test_settings::writeForResultsEverySecond(sim_->portPath()));
  }

  // The program with its settings pointing at the simulator's port; no box.
  void startProgramOnSim() {
    writeDefaultSettings(sim_->portPath());
    startProgram();
    ASSERT_TRUE(notices_.empty()) << notices_.front().line().toStdString();
    ASSERT_TRUE(messages_.empty()) << messages_.front().title.toStdString();
    ASSERT_TRUE(session().link().isOpen());
  }

  // One tick of the poll cycle, then the event loop until the reply to the
  // request just sent is in, at most `timeoutMs`; the clock moves on by a
  // second. False when no whole reply came.
  bool runTick(int timeoutMs = 3000) {
    tick();
    const int expected = poll().requestKind() == Request::Status ? 33 : 8;
    const bool got = SimProcess::waitFor(
        [&] {
          session().link().service();
          return session().link().reply().length() >= expected;
        },
        timeoutMs);
    advance(1);
    passReopenTime(1000);
    return got;
  }

  // The port's reopen timer, manual in tests, fires as `ms` of test time pass.
  void passReopenTime(int ms) {
    SerialPort* port = session().link().port();
    Timer* timer = port ? port->reopenTimer() : nullptr;
    if (!timer || !timer->isEnabled()) {
      reopenElapsedMs_ = 0;
      return;
    }
    reopenElapsedMs_ += ms;
    if (reopenElapsedMs_ >= timer->interval()) {
      reopenElapsedMs_ = 0;
      timer->fire();
    }
  }

  // Ticks until `done` holds, at most `maxTicks`.
  bool ticksUntil(const std::function<bool()>& done, int maxTicks) {
    for (int i = 0; i < maxTicks; ++i) {
      if (done()) return true;
      runTick();
    }
    return done();
  }

  // Results taken.
  int resultRows() const { return results().count(); }

  static QRegularExpression line(const char* pattern) {
    return QRegularExpression(QString::fromLatin1(pattern));
  }

  std::unique_ptr<SimProcess> sim_;
  int reopenElapsedMs_ = 0;
};
