#include "service/termination_signals.h"

#include <QSocketNotifier>
#include <QTimer>
#include <atomic>
#include <csignal>

#ifdef Q_OS_UNIX
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

#ifdef Q_OS_UNIX
// The handler only writes the signal's number to a socket: all else waits
// for the event loop.
int g_pipe[2] = {-1, -1};

void onSignal(int signal) {
  const char c = char(signal);
  [[maybe_unused]] const ssize_t n = ::write(g_pipe[0], &c, 1);
}
#else
std::atomic<int> g_received{0};

void onSignal(int signal) { g_received = signal; }
#endif

}  // namespace

TerminationSignals::TerminationSignals(QObject* parent) : QObject(parent) {
#ifdef Q_OS_UNIX
  if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_pipe) != 0) return;
  notifier_ = new QSocketNotifier(g_pipe[1], QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, &TerminationSignals::onReadable);
  struct sigaction action = {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);
#else
  std::signal(SIGTERM, onSignal);
  std::signal(SIGINT, onSignal);
  auto* timer = new QTimer(this);
  connect(timer, &QTimer::timeout, this, [this] {
    if (const int s = g_received.exchange(0)) emit received(s);
  });
  timer->start(250);
#endif
}

TerminationSignals::~TerminationSignals() {
#ifdef Q_OS_UNIX
  signal(SIGTERM, SIG_DFL);
  signal(SIGINT, SIG_DFL);
  signal(SIGHUP, SIG_DFL);
  if (g_pipe[0] >= 0) {
    ::close(g_pipe[0]);
    ::close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
  }
#endif
}

void TerminationSignals::onReadable() {
#ifdef Q_OS_UNIX
  char c = 0;
  if (::read(g_pipe[1], &c, 1) == 1) emit received(int(c));
#endif
}
