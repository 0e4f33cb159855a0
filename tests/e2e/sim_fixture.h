#pragma once
// End-to-end fixture: the real serial port (QSerialPort) against the analyzer
// simulator on a pseudo-terminal, with the fixture's recorded message boxes
// and test clock. For the whole program: StartProgramOnSim(), then RunTick()
// drives one poll tick and spins the port until the reply is in.

#include <gtest/gtest.h>

#include <QRegularExpression>
#include <QStringList>
#include <functional>
#include <memory>

#include "app/Korvex_ModbusRTU_MainChat.h"
#include "device/Korvex_ModbusRTU_IOPort.h"
#include "storage/settings_records.h"
#include "support/fake_serial.h"
#include "support/korvex_fixture.h"
#include "support/sim_process.h"
#include "view/results_table.h"

#ifndef KORVEX_SIM_PATH
#define KORVEX_SIM_PATH ""
#endif

class SimFixture : public KorvexFixture {
 protected:
  void SetUp() override {
    KorvexFixture::SetUp();
    ClearFakeSerial();  // the real QSerialPort backend
  }
  void TearDown() override {
    KorvexFixture::TearDown();  // closes the program's port first
    if (sim_) sim_->Stop();
  }

  // Starts the simulator; fails the test when it cannot.
  void StartSim(const QStringList& args = {}) {
    ASSERT_STRNE(KORVEX_SIM_PATH, "") << "built without the analyzer simulator (KORVEX_BUILD_TOOLS)";
    sim_ = std::make_unique<SimProcess>(QStringLiteral(KORVEX_SIM_PATH));
    ASSERT_TRUE(sim_->Start(args)) << sim_->ErrorOutput().toStdString();
  }

  // The program with its settings pointing at the simulator's port; no box.
  void StartProgramOnSim() {
    WriteDefaultSettings(sim_->PortPath());
    StartProgram();
    ASSERT_TRUE(messages_.empty()) << messages_.front().title.toStdString();
    ASSERT_TRUE(Form1->ComPort && Form1->ComPort->IsOpen());
  }

  // One tick of the poll cycle (Timer1), then the port service (Timer2) until
  // the reply to the request just sent is in, at most `timeoutMs`; the clock
  // moves on by a second. False when no whole reply came.
  bool RunTick(int timeoutMs = 3000) {
    Tick();
    const int expected = DeviceRecord.RequestKind == 0 ? 33 : 8;
    const bool got = SimProcess::WaitFor(
        [&] {
          Form1->Timer2Timer();
          return Form1->Reply.ReplyLength >= expected;
        },
        timeoutMs);
    Advance(1);
    return got;
  }

  // Ticks until `done` holds, at most `maxTicks`.
  bool TicksUntil(const std::function<bool()>& done, int maxTicks) {
    for (int i = 0; i < maxTicks; ++i) {
      if (done()) return true;
      RunTick();
    }
    return done();
  }

  // Rows of the results table that hold a result (row 0 is the header).
  static int ResultRows() {
    int n = 0;
    for (int r = 1; r < Form1->Grid->RowCount(); ++r)
      if (!Form1->Grid->Cells(0, r).isEmpty()) ++n;
    return n;
  }

  static QRegularExpression Line(const char* pattern) {
    return QRegularExpression(QString::fromLatin1(pattern));
  }

  std::unique_ptr<SimProcess> sim_;
};
