// The whole program reaching the analyzer through a serial device server: the
// port name "tcp://host:port" against the simulator's TCP mode. The same
// frames as on the serial line, measurements over it, a gateway that goes
// away and comes back, addresses where nobody answers, and the link
// statistics against faults injected on purpose.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QAction>
#include <QElapsedTimer>
#include <QLabel>
#include <QToolButton>
#include <algorithm>
#include <limits>
#include <vector>

#include "acquisition/link_statistics.h"
#include "device/tcp_backend.h"
#include "dialogs/link_statistics_dialog.h"
#include "e2e/sim_fixture.h"
#include "support/analyzer_replies.h"

namespace {

const QString kWarning =
    QStringLiteral(u"ВНИМАНИЕ!\r\nСБОЙ В РАБОТЕ ПРИБОРА!\r\nПРОВЕРТЕ ПОДКЛЮЧЕНИЕ И ПИТАНИЕ!");

// A loopback address where no connection is ever made: a listening socket
// whose queue (of one) is full, so the system drops every further request,
// as a host that does not answer does. No traffic leaves the machine.
class SilentHost {
 public:
  SilentHost() {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof a;
    if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        listen(listener_, 0) != 0 || getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &size) != 0)
      return;
    port_ = ntohs(a.sin_port);
    // The one place in the queue, taken and never accepted.
    filler_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (filler_ < 0 || ::connect(filler_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) port_ = 0;
  }
  ~SilentHost() {
    if (filler_ >= 0) close(filler_);
    if (listener_ >= 0) close(listener_);
  }
  quint16 port() const { return port_; }

 private:
  int listener_ = -1;
  int filler_ = -1;
  quint16 port_ = 0;
};

class TcpLinkE2E : public SimFixture {
 protected:
  void TearDown() override {
    SimFixture::TearDown();  // the program goes before the timers turn manual again
    realTimers_.reset();
  }

  static QStringList fastArgs() {
    return {QStringLiteral("--zero"), QStringLiteral("0"), QStringLiteral("--measure"), QStringLiteral("0"),
            QStringLiteral("--purge"), QStringLiteral("0"), QStringLiteral("--min-replies"),
            QStringLiteral("2")};
  }

  // The simulator over TCP, on a free port or on `address` ("127.0.0.1:port").
  void startTcpSim(QStringList args, const QString& address = QStringLiteral("0")) {
    args << QStringLiteral("--tcp") << address;
    startSim(args);
  }

  // The program with its settings naming the simulator's address; connected,
  // without a box.
  void startProgramOnTcp() {
    ASSERT_TRUE(sim_->portPath().startsWith(QLatin1String("tcp://")));
    writeDefaultSettings(sim_->portPath());
    startProgram();
    ASSERT_TRUE(SimProcess::waitFor([this] { return session().link().isOpen(); }, 5000));
    ASSERT_TRUE(notices_.empty()) << notices_.front().title.toStdString();
  }

  // A tick whose reply the fault `name` spoils: the event loop runs until the
  // simulator has reported the fault and `length` bytes of the reply are in.
  void faultTick(const char* name, int length) {
    const QString fault = QStringLiteral("FAULT ") + QLatin1String(name);
    const auto reported = [this, &fault] { return int(sim_->lines().count(fault)); };
    const int before = reported();
    tick();
    EXPECT_TRUE(SimProcess::waitFor(
        [&] { return reported() > before && session().link().reply().length() >= length; }, 3000))
        << name;
    advance(1);
  }

  // A tick that takes whatever came within `ms`.
  void shortTick(int ms) {
    tick();
    SimProcess::waitFor([] { return false; }, ms);
    advance(1);
    passReopenTime(1000);
  }

  void reachIdle() {
    ASSERT_TRUE(ticksUntil(
        [this] { return poll().workMode() == WorkMode::Idle && find<QToolButton>("BitBtnPost")->isEnabled(); },
        10));
  }

  // Continuous measurement with a row every tick until `rows` rows are in.
  void measureUntil(int rows) {
    changeMeasuring([](MeasuringSettings& m) { m.refreshPeriod = 1; });
    if (poll().workMode() != WorkMode::Continuous) window().onContinuousClicked();
    ASSERT_TRUE(ticksUntil([this, rows] { return resultRows() >= rows; }, 40));
  }

  QList<QStringList> rowsOf(int count) const {
    QList<QStringList> rows;
    for (int r = 0; r < count; ++r) rows << results().cells(r);
    return rows;
  }

  // Requests and replies as the simulator saw them, every one printed so far
  // (a status round trip comes after them on its output).
  QStringList exchanges() {
    EXPECT_FALSE(sim_->status().isEmpty());
    QStringList out;
    for (const QString& l : sim_->lines())
      if (l.startsWith(QLatin1String("RX ")) || l.startsWith(QLatin1String("TX "))) out << l;
    return out;
  }

  // Starts the program on `portName` with the timers running by the clock and
  // spins the event loop until the box and two more ticks have come; the
  // ticks' times and the box's, in ms from the start.
  void startAndWatchTheTicks(const QString& portName, std::vector<qint64>& ticks, qint64& boxAt) {
    realTimers_ = std::make_unique<RealTimers>();
    writeDefaultSettings(portName);
    QElapsedTimer clock;
    clock.start();
    startProgram();
    QObject::connect(pollTimer(), &Timer::timeout, [&ticks, &clock] { ticks.push_back(clock.elapsed()); });
    boxAt = -1;
    size_t ticksAtBox = 0;
    SimProcess::waitFor(
        [&] {
          if (boxAt < 0 && !notices_.empty()) {
            boxAt = clock.elapsed();
            ticksAtBox = ticks.size();
          }
          return boxAt >= 0 && ticks.size() >= ticksAtBox + 2;
        },
        15000);
    ticks.insert(ticks.begin(), 0);  // the gap before the first tick counts too
  }

  static qint64 longestGap(const std::vector<qint64>& ticks) {
    qint64 longest = 0;
    for (size_t i = 1; i < ticks.size(); ++i) longest = std::max(longest, ticks[i] - ticks[i - 1]);
    return longest;
  }

  std::unique_ptr<RealTimers> realTimers_;
};

TEST_F(TcpLinkE2E, TheProgramsExchangesAreByteForByteTheOnesOverTheSerialLine) {
  // The same course on both lines: every register fixed, the start-up stop,
  // idle polls, a single measurement asked for and its stop.
  QStringList seen[2];
  for (const bool tcp : {false, true}) {
    QStringList args = fastArgs();
    args << QStringLiteral("--verbose");
    if (tcp)
      startTcpSim(args);
    else
      startSim(args);
    const int values[14] = {0, 0x0805, -200, 21, 350, 0x1234, 50, 40, 5, 0x8001, 3, (11 << 8) | 25, 2026, 4321};
    for (int k = 0; k < 14; ++k)
      ASSERT_TRUE(sim_->command(QStringLiteral("set %1 %2").arg(k).arg(values[k])));
    writeDefaultSettings(sim_->portPath());
    startProgram();
    ASSERT_TRUE(SimProcess::waitFor([this] { return session().link().isOpen(); }, 5000));
    ASSERT_NO_FATAL_FAILURE(reachIdle());
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(runTick());
    window().onSingleClicked();
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(runTick());
    seen[tcp] = exchanges();
    EXPECT_TRUE(notices_.empty());
    stopProgram();
    sim_->stop();
  }
  ASSERT_GE(seen[0].size(), 20);
  EXPECT_EQ(seen[1], seen[0]);
  EXPECT_TRUE(seen[1].contains(QStringLiteral("RX 01 06 00 00 00 01 48 0A"))) << "the single measurement's start";
}

TEST_F(TcpLinkE2E, ASingleAndAContinuousMeasurementCompleteOverTcp) {
  startTcpSim(fastArgs());
  ASSERT_NO_FATAL_FAILURE(startProgramOnTcp());
  ASSERT_NO_FATAL_FAILURE(reachIdle());

  window().onSingleClicked();
  ASSERT_TRUE(ticksUntil([this] { return resultRows() == 1; }, 30));
  ASSERT_TRUE(ticksUntil([this] { return find<QToolButton>("BitBtnPost")->isEnabled(); }, 15));
  EXPECT_EQ(sim_->count(line("^COMMAND 1 single measurement$")), 1);

  ASSERT_NO_FATAL_FAILURE(measureUntil(5));
  EXPECT_EQ(poll().workMode(), WorkMode::Continuous);
  window().onStopClicked();
  ASSERT_TRUE(ticksUntil([this] { return find<QToolButton>("BitBtnPost")->isEnabled(); }, 15));
  EXPECT_EQ(poll().workMode(), WorkMode::Idle);
  EXPECT_EQ(sim_->count(line("^COMMAND 2 continuous measurement$")), 1);
  EXPECT_TRUE(notices_.empty());
  for (int r = 1; r <= resultRows(); ++r) EXPECT_EQ(cell(0, r), QString::number(r - 1));
  EXPECT_EQ(poll().statistics().reconnects, 0);
}

TEST_F(TcpLinkE2E, AGatewayGoneForLongWarnsOnceAndTheLinkComesBackByItself) {
  startTcpSim(fastArgs());
  const QString address = QStringLiteral("127.0.0.1:%1").arg(sim_->tcpPort());
  ASSERT_NO_FATAL_FAILURE(startProgramOnTcp());
  ASSERT_NO_FATAL_FAILURE(reachIdle());
  ASSERT_NO_FATAL_FAILURE(measureUntil(3));
  const int before = resultRows();
  const QList<QStringList> kept = rowsOf(before);
  int modals = 0;
  modal_ = [&modals](QDialog*) {
    ++modals;
    return 0;
  };

  sim_->kill();
  for (int i = 0; i < kSilentTicksLimit + 5; ++i) shortTick(30);
  EXPECT_FALSE(session().link().isOpen());
  EXPECT_TRUE(session().link().port()->reopenTimer()->isEnabled());
  ASSERT_EQ(notices_.size(), 1u);
  EXPECT_EQ(notices_[0].text, kWarning);
  EXPECT_EQ(poll().analyzerState(), AnalyzerState::NotConnected);

  // Back at the same address: the program finds it within a few seconds of
  // its clock, runs the stop sequence and starts the measurement again.
  startTcpSim(fastArgs(), address);
  for (int i = 0; i < 10 && !session().link().isOpen(); ++i) shortTick(200);
  ASSERT_TRUE(session().link().isOpen());
  // The continuous measurement that was running starts again by itself.
  ASSERT_TRUE(ticksUntil([this] { return poll().workMode() == WorkMode::Continuous; }, 20));
  EXPECT_EQ(notices_.size(), 1u);
  EXPECT_EQ(modals, 0) << "no options dialog";
  EXPECT_EQ(rowsOf(before), kept);
  EXPECT_EQ(poll().statistics().reconnects, 1);

  ASSERT_NO_FATAL_FAILURE(measureUntil(before + 2));
  EXPECT_EQ(cell(0, before + 1), QString::number(before));
  EXPECT_EQ(rowsOf(before), kept);
}

TEST_F(TcpLinkE2E, AConnectionDroppedForAMomentIsMadeAgainQuietlyAndTheMeasurementGoesOn) {
  startTcpSim(fastArgs());
  ASSERT_NO_FATAL_FAILURE(startProgramOnTcp());
  ASSERT_NO_FATAL_FAILURE(reachIdle());
  ASSERT_NO_FATAL_FAILURE(measureUntil(3));
  const int before = resultRows();
  const QList<QStringList> kept = rowsOf(before);

  ASSERT_TRUE(sim_->command(QStringLiteral("drop")));
  for (int i = 0; i < 10 && poll().statistics().reconnects == 0; ++i) shortTick(200);
  EXPECT_EQ(poll().statistics().reconnects, 1);
  ASSERT_TRUE(ticksUntil([this, before] { return resultRows() >= before + 3; }, 20));
  EXPECT_TRUE(notices_.empty());
  EXPECT_EQ(poll().workMode(), WorkMode::Continuous);
  EXPECT_EQ(sim_->count(line("^CLIENT 127\\.0\\.0\\.1:\\d+ connected$")), 2);
  EXPECT_EQ(rowsOf(before), kept);
  for (int r = 1; r <= resultRows(); ++r) EXPECT_EQ(cell(0, r), QString::number(r - 1));  // The event log has the reconnect.
  int reopened = 0;
  for (const StoredEvent& e : session().store().events(0, std::numeric_limits<qint64>::max()))
    reopened += e.kind == EventKind::PortReopened && e.text.endsWith(sim_->portPath());
  EXPECT_EQ(reopened, 1);
}

TEST_F(TcpLinkE2E, AnAddressWithNothingListeningIsOneNoticeAndTheTicksGoOn) {
  // The simulator's port after it stopped listening: refused at once.
  startTcpSim({});
  const QString name = sim_->portPath();
  ASSERT_TRUE(sim_->command(QStringLiteral("hangup")));
  std::vector<qint64> ticks;
  qint64 boxAt = -1;
  startAndWatchTheTicks(name, ticks, boxAt);
  ASSERT_EQ(notices_.size(), 1u);
  EXPECT_EQ(notices_[0].title, QStringLiteral(u"Не могу открыть порт"));
  EXPECT_EQ(notices_[0].text,
            name + QStringLiteral(u"\r\nсоединение отвергнуто (на этом порту никто не принимает соединений)"));
  EXPECT_LT(boxAt, 1500);
  EXPECT_GE(ticks.size(), 3u);
  EXPECT_LT(longestGap(ticks), 1500);
  EXPECT_FALSE(session().link().isOpen());

  // The gateway listens again: found by the quiet retries, without the
  // options dialog and without another box.
  startTcpSim({}, name.mid(int(qstrlen("tcp://"))));
  ASSERT_TRUE(SimProcess::waitFor([this] { return !events(EventKind::PortOpened).isEmpty(); }, 15000));
  EXPECT_TRUE(session().link().isOpen());
  EXPECT_EQ(notices_.size(), 1u);
  ASSERT_EQ(events(EventKind::PortOpened).size(), 1);
  EXPECT_EQ(events(EventKind::PortOpened)[0].text, QStringLiteral(u"Порт открыт: ") + name);
}

TEST_F(TcpLinkE2E, AHostThatDoesNotAnswerIsOneNoticeAfterTheTimeOutAndTheTicksGoOnMeanwhile) {
  SilentHost host;
  ASSERT_NE(host.port(), 0) << "no silent loopback port could be made";
  const QString name = QStringLiteral("tcp://127.0.0.1:%1").arg(host.port());
  std::vector<qint64> ticks;
  qint64 boxAt = -1;
  startAndWatchTheTicks(name, ticks, boxAt);
  ASSERT_EQ(notices_.size(), 1u);
  EXPECT_EQ(notices_[0].title, QStringLiteral(u"Не могу открыть порт"));
  EXPECT_EQ(notices_[0].text, name + QStringLiteral(u"\r\nнет ответа за 3 с"));
  // The time-out decided it, not a refusal.
  EXPECT_GE(boxAt, kTcpConnectTimeoutMs * 8 / 10);
  EXPECT_LT(boxAt, kTcpConnectTimeoutMs + 1500);
  EXPECT_GE(std::count_if(ticks.begin() + 1, ticks.end(), [boxAt](qint64 t) { return t < boxAt; }), 2);
  EXPECT_LT(longestGap(ticks), 1500);
  EXPECT_FALSE(session().link().isOpen());
}

TEST_F(TcpLinkE2E, TheStatisticsCountExactlyTheFaultsInjected) {
  startTcpSim(fastArgs());
  ASSERT_NO_FATAL_FAILURE(startProgramOnTcp());
  ASSERT_NO_FATAL_FAILURE(reachIdle());
  ASSERT_TRUE(runTick());
  poll().resetStatistics();  // the reply to the request out now is not counted

  const struct {
    const char* command;
    int ticks;
    const char* fault;
    int length;  // of the reply the fault leaves
  } faults[] = {{"crc 2", 2, "bad-crc", 33}, {"cut 3", 3, "cut", 16}, {"silence 2", 2, "silence", 0}};
  int good = 0;
  for (const auto& f : faults) {
    ASSERT_TRUE(runTick());  // a good exchange between the faults
    ++good;
    ASSERT_TRUE(sim_->command(QString::fromLatin1(f.command)));
    for (int i = 0; i < f.ticks; ++i) faultTick(f.fault, f.length);
  }
  for (int i = 0; i < 3; ++i, ++good) ASSERT_TRUE(runTick());
  ASSERT_TRUE(sim_->command(QStringLiteral("normal")));

  EXPECT_EQ(sim_->count(line("^FAULT bad-crc$")), 2);
  EXPECT_EQ(sim_->count(line("^FAULT cut$")), 3);
  EXPECT_EQ(sim_->count(line("^FAULT silence$")), 2);
  const LinkStatistics s = poll().statistics();
  EXPECT_EQ(s.errors, 2 + 3);
  EXPECT_EQ(s.silences, 2);
  // The first tick after the reset finds the reply it does not count; the
  // last one's request is out.
  EXPECT_EQ(s.replies, good - 1);
  EXPECT_EQ(s.requests, s.replies + s.errors + s.silences + 1);
  EXPECT_EQ(s.reconnects, 0);
  EXPECT_EQ(s.bytesSent, 8 * s.requests);
  EXPECT_EQ(s.bytesReceived, 33 * (s.replies + 1) + 33 * 2 + 16 * 3);
  EXPECT_EQ(s.timedReplies, s.replies);
  EXPECT_GT(s.meanReplyMs(), 0);
  EXPECT_GE(s.maxReplyMs, s.meanReplyMs());
  EXPECT_LT(s.maxReplyMs, 1000) << "a reply within the tick";
  // As the operator sees them.
  find<QAction>("ActionLinkStatistics")->trigger();
  auto* window = find<LinkStatisticsDialog>("FormLinkStatistics");
  ASSERT_NE(window, nullptr);
  const auto figure = [window](const char* name) { return window->findChild<QLabel*>(QLatin1String(name))->text(); };
  EXPECT_EQ(figure("LabelRequests"), QString::number(s.requests));
  EXPECT_EQ(figure("LabelReplies"), QString::number(s.replies));
  EXPECT_EQ(figure("LabelErrors"), QStringLiteral("5"));
  EXPECT_EQ(figure("LabelSilences"), QStringLiteral("2"));
  EXPECT_EQ(figure("LabelReconnects"), QStringLiteral("0"));
  EXPECT_TRUE(notices_.empty());
}

}  // namespace
