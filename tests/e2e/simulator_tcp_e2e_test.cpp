// The simulator's TCP mode (--tcp), as behind a serial device server: the
// same RTU frames as on the pseudo-terminal, one client at a time, the line
// faults, "drop" and "hangup". The client is a plain socket, so what is
// compared is exactly the bytes on the connection.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "e2e/sim_fixture.h"
#include "storage/settings_files.h"
#include "support/analyzer_replies.h"

namespace {

// The program's end of the line as a bare descriptor: the pseudo-terminal or
// a TCP connection. Every wait spins the event loop and has a cap.
class RawLink {
 public:
  RawLink() = default;
  RawLink(const RawLink&) = delete;
  RawLink& operator=(const RawLink&) = delete;
  ~RawLink() { Close(); }

  bool OpenPty(const QString& path) {
    Close();
    fd_ = open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    termios tio{};
    if (fd_ < 0 || tcgetattr(fd_, &tio) != 0) return false;
    cfmakeraw(&tio);
    return tcsetattr(fd_, TCSANOW, &tio) == 0;
  }

  // 0 once connected, else the error (ETIMEDOUT after the cap).
  int ConnectTcp(const QString& host, quint16 port, int timeoutMs = 5000) {
    Close();
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd_ < 0) return errno;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    if (inet_pton(AF_INET, host.toLatin1().constData(), &a.sin_addr) != 1) return EINVAL;
    if (connect(fd_, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0) return 0;
    if (errno != EINPROGRESS) return errno;
    int error = ETIMEDOUT;
    SimProcess::waitFor(
        [&] {
          pollfd p{fd_, POLLOUT, 0};
          if (poll(&p, 1, 0) <= 0) return false;
          socklen_t size = sizeof error;
          getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &size);
          return true;
        },
        timeoutMs);
    return error;
  }

  void Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    ended_ = false;
  }

  // Sends `request`, then collects what arrives until `length` bytes are in
  // (more if more came at once), at most `timeoutMs`.
  Frame Exchange(const Frame& request, size_t length, int timeoutMs = 3000) {
    Frame got;
    if (write(fd_, request.data(), request.size()) != ssize_t(request.size())) return got;
    SimProcess::waitFor(
        [&] {
          ReadInto(got);
          return got.size() >= length || ended_;
        },
        timeoutMs);
    return got;
  }

  // True once the other side ended the connection (end of stream or reset).
  bool WaitForEnd(int timeoutMs = 5000) {
    Frame ignored;
    return SimProcess::waitFor(
        [&] {
          ReadInto(ignored);
          return ended_;
        },
        timeoutMs);
  }

 private:
  void ReadInto(Frame& got) {
    for (;;) {
      uint8_t buf[256];
      const ssize_t n = read(fd_, buf, sizeof buf);
      if (n > 0) {
        got.insert(got.end(), buf, buf + n);
      } else if (n < 0 && errno == EINTR) {
        continue;
      } else {
        if (n == 0 || errno != EAGAIN) ended_ = true;
        return;
      }
    }
  }

  int fd_ = -1;
  bool ended_ = false;
};

const Frame kStatusRequest = withCrc({0x01, 0x04, 0x00, 0x00, 0x00, 0x0E});

class SimulatorTcpE2E : public SimFixture {
 protected:
  // Replies that do not depend on the time.
  static StatusRegisters Fixed() { return distinctRegisters(); }

  static void FixRegisters(SimProcess& sim) {
    const StatusRegisters r = Fixed();
    const int values[14] = {r.state, r.faults, r.tg,  r.ta,  r.o2,  r.reg5, r.co, r.no,
                            r.no2,   r.so2,    r.h2s, (r.serviceMonth << 8) | r.serviceDay,
                            r.serviceYear,     r.runningHours};
    for (int k = 0; k < 14; ++k)
      ASSERT_TRUE(sim.command(QStringLiteral("set %1 %2").arg(k).arg(values[k])));
  }

  void startTcpSim(QStringList args = {}) {
    args << QStringLiteral("--tcp") << QStringLiteral("0");
    startSim(args);
    ASSERT_EQ(sim_->tcpHost(), QStringLiteral("127.0.0.1"));
    ASSERT_NE(sim_->tcpPort(), 0);
  }

  int Connect(RawLink& link) { return link.ConnectTcp(sim_->tcpHost(), sim_->tcpPort()); }
};

TEST_F(SimulatorTcpE2E, RepliesAreByteForByteTheOnesOnThePseudoTerminal) {
  SimProcess ptySim(QStringLiteral(KORVEX_SIM_PATH));
  ASSERT_TRUE(ptySim.start()) << ptySim.errorOutput().toStdString();
  ASSERT_NO_FATAL_FAILURE(startTcpSim());
  EXPECT_EQ(sim_->portPath(), QStringLiteral("tcp://127.0.0.1:%1").arg(sim_->tcpPort()));
  ASSERT_NO_FATAL_FAILURE(FixRegisters(ptySim));
  ASSERT_NO_FATAL_FAILURE(FixRegisters(*sim_));

  RawLink pty, tcp;
  ASSERT_TRUE(pty.OpenPty(ptySim.portPath()));
  ASSERT_EQ(Connect(tcp), 0);
  const Frame overPty = pty.Exchange(kStatusRequest, 33);
  const Frame overTcp = tcp.Exchange(kStatusRequest, 33);
  EXPECT_EQ(overPty, statusReply(1, Fixed()));
  EXPECT_EQ(overTcp, overPty);

  // An exception reply (15 registers asked, 14 there) alike.
  const Frame tooMany = withCrc({0x01, 0x04, 0x00, 0x00, 0x00, 0x0F});
  const Frame exceptionOverPty = pty.Exchange(tooMany, 5);
  EXPECT_EQ(exceptionOverPty, withCrc({0x01, 0x84, 0x02}));
  EXPECT_EQ(tcp.Exchange(tooMany, 5), exceptionOverPty);
}

TEST_F(SimulatorTcpE2E, ACommandIsEchoedAndObeyed) {
  ASSERT_NO_FATAL_FAILURE(startTcpSim({QStringLiteral("--zero"), QStringLiteral("3600")}));
  RawLink tcp;
  ASSERT_EQ(Connect(tcp), 0);
  const Frame single = withCrc({0x01, 0x06, 0x00, 0x00, 0x00, 0x01});
  EXPECT_EQ(tcp.Exchange(single, 8), commandEcho(1, 1));
  EXPECT_TRUE(sim_->waitForLine(line("^COMMAND 1 single measurement$")));
  const Frame status = tcp.Exchange(kStatusRequest, 33);
  ASSERT_EQ(status.size(), 33u);
  EXPECT_EQ(status[4], 1) << "zero setting";  // low byte of register 0
}

TEST_F(SimulatorTcpE2E, DropResetsTheConnectionAndTheNextClientIsServed) {
  ASSERT_NO_FATAL_FAILURE(startTcpSim());
  ASSERT_NO_FATAL_FAILURE(FixRegisters(*sim_));
  RawLink first;
  ASSERT_EQ(Connect(first), 0);
  ASSERT_EQ(first.Exchange(kStatusRequest, 33), statusReply(1, Fixed()));

  ASSERT_TRUE(sim_->command(QStringLiteral("drop")));
  EXPECT_TRUE(first.WaitForEnd());
  EXPECT_TRUE(sim_->waitForLine(line("^CLIENT 127\\.0\\.0\\.1:\\d+ dropped$")));

  RawLink next;
  ASSERT_EQ(Connect(next), 0);
  EXPECT_EQ(next.Exchange(kStatusRequest, 33), statusReply(1, Fixed()));
}

TEST_F(SimulatorTcpE2E, ASecondClientIsRefusedWhileTheFirstIsServed) {
  ASSERT_NO_FATAL_FAILURE(startTcpSim());
  ASSERT_NO_FATAL_FAILURE(FixRegisters(*sim_));
  RawLink first;
  ASSERT_EQ(Connect(first), 0);
  ASSERT_EQ(first.Exchange(kStatusRequest, 33), statusReply(1, Fixed()));

  // The listening socket takes it and the simulator resets it at once, so the
  // reset may already be there when the connect is seen to complete.
  RawLink second;
  const int refused = Connect(second);
  if (refused != ECONNRESET) {
    ASSERT_EQ(refused, 0) << std::strerror(refused);
    EXPECT_TRUE(second.WaitForEnd());
  }
  EXPECT_TRUE(sim_->waitForLine(line("^CLIENT 127\\.0\\.0\\.1:\\d+ refused \\(busy\\)$")));
  EXPECT_EQ(first.Exchange(kStatusRequest, 33), statusReply(1, Fixed()));

  // Once the first has gone, the next one is served.
  const int from = int(sim_->lines().size());
  first.Close();
  ASSERT_TRUE(sim_->waitForLine(line("^CLIENT 127\\.0\\.0\\.1:\\d+ closed$"), from));
  RawLink third;
  ASSERT_EQ(Connect(third), 0);
  EXPECT_EQ(third.Exchange(kStatusRequest, 33), statusReply(1, Fixed()));
}

TEST_F(SimulatorTcpE2E, ACrcFaultSpoilsExactlyOneReply) {
  ASSERT_NO_FATAL_FAILURE(startTcpSim());
  ASSERT_NO_FATAL_FAILURE(FixRegisters(*sim_));
  const Frame whole = statusReply(1, Fixed());
  RawLink tcp;
  ASSERT_EQ(Connect(tcp), 0);
  ASSERT_EQ(tcp.Exchange(kStatusRequest, 33), whole);

  ASSERT_TRUE(sim_->command(QStringLiteral("crc 1")));
  const Frame spoilt = tcp.Exchange(kStatusRequest, 33);
  ASSERT_EQ(spoilt.size(), 33u);
  EXPECT_NE(spoilt, whole);
  EXPECT_NE(withCrc(Frame(spoilt.begin(), spoilt.end() - 2)), spoilt) << "the CRC must not fit";
  EXPECT_EQ(Frame(spoilt.begin(), spoilt.end() - 2), Frame(whole.begin(), whole.end() - 2));
  EXPECT_EQ(tcp.Exchange(kStatusRequest, 33), whole);
  EXPECT_EQ(tcp.Exchange(kStatusRequest, 33), whole);
  EXPECT_EQ(sim_->count(line("^FAULT bad-crc$")), 1);
}

TEST_F(SimulatorTcpE2E, HangupResetsTheConnectionAndTheListeningEnds) {
  ASSERT_NO_FATAL_FAILURE(startTcpSim());
  RawLink tcp;
  ASSERT_EQ(Connect(tcp), 0);
  ASSERT_EQ(tcp.Exchange(kStatusRequest, 33).size(), 33u);
  ASSERT_TRUE(sim_->command(QStringLiteral("hangup")));
  EXPECT_TRUE(tcp.WaitForEnd());
  RawLink late;
  EXPECT_EQ(Connect(late), ECONNREFUSED);
  EXPECT_TRUE(sim_->isRunning());
}

TEST_F(SimulatorTcpE2E, TheSettingsGetTheTcpPortName) {
  ASSERT_NO_FATAL_FAILURE(startTcpSim({QStringLiteral("--settings"), exePath_}));
  SettingsFiles files;
  ASSERT_TRUE(files.load());
  EXPECT_EQ(files.measuring().portName,
            QStringLiteral("tcp://127.0.0.1:%1").arg(sim_->tcpPort()));
}

TEST_F(SimulatorTcpE2E, DropWithoutTcpIsAnError) {
  SimProcess ptySim(QStringLiteral(KORVEX_SIM_PATH));
  ASSERT_TRUE(ptySim.start());
  EXPECT_FALSE(ptySim.command(QStringLiteral("drop")));
  EXPECT_TRUE(ptySim.waitForLine(line("^ERROR drop needs the TCP mode"), 0, 0));
}

}  // namespace
