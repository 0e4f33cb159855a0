// korvex-sim: a Korvex flue-gas analyzer on a serial line, for the demo run
// and the end-to-end tests. A Modbus RTU slave (libmodbus) that answers
// function 4 (input registers 0..13) and function 6 on holding register 0
// (1 single measurement, 2 continuous, 3 stop), runs the analyzer's states by
// itself, and injects faults on command.
//
// libmodbus needs a terminal device of its own, so it gets one side of an
// inner pseudo-terminal pair; this program relays between that pair and the
// line the Korvex program uses (the slave side of a second pair, a real
// serial device, or a TCP connection carrying the RTU frames as a serial
// device server does), and applies the line faults to the replies on the way.
// libmodbus has no backend for RTU frames over TCP, hence the relay there too.
//
// With --analyzers several analyzers share the line, as on an RS-485 bus:
// each is a libmodbus slave with its own inner pair, and the relay cuts the
// program's bytes into frames and passes each to the analyzer it is
// addressed to. With --pace the relay keeps the line's timing as well.

#include <fcntl.h>
#include <modbus.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <QString>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "sim/analyzer.h"
#include "sim/control.h"
#include "sim/line.h"
#include "sim/tcp.h"
#include "storage/atomic_file.h"
#include "storage/settings_files.h"
#include "storage/settings_records.h"

namespace {

std::mutex g_outMutex;

void say(const std::string& line) {
  std::lock_guard<std::mutex> lock(g_outMutex);
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

int g_signalPipe[2] = {-1, -1};

void onSignal(int) {
  const char c = 1;
  [[maybe_unused]] const ssize_t n = write(g_signalPipe[1], &c, 1);
}

struct Options {
  std::string device;
  std::string tcp;
  std::string link;
  std::string control;
  std::string settings;
  std::string portName;
  int address = 1;
  bool addressGiven = false;
  std::vector<int> analyzers;  // --analyzers: their addresses, in slot order
  bool pace = false;
  double latencyMs = 0;
  bool latencyGiven = false;
  sim::Durations durations;
  int minReplies = 1;
  sim::ServiceInfo service;
  bool verbose = false;
  unsigned seed = 1;
};

void usage(FILE* to) {
  std::fputs(
      "Usage: korvex-sim [options]\n"
      "A Korvex analyzer answering Modbus RTU at 9600 baud, 8N2, on a pseudo-terminal\n"
      "(or a serial device, or TCP). Prints \"PORT <path>\" with the port the program\n"
      "should open, then \"READY\"; then events (STATE, COMMAND) and answers to commands.\n"
      "Options:\n"
      "  --device PATH         answer on this serial device instead of a pseudo-terminal\n"
      "  --tcp [HOST:]PORT     answer the same RTU frames over TCP instead, as behind a\n"
      "                        serial device server: listen on HOST (default 127.0.0.1,\n"
      "                        IPv4), PORT (0: a free one), one client at a time (others\n"
      "                        are reset); prints \"TCP <host>:<port>\" and the port\n"
      "                        \"tcp://<host>:<port>\"\n"
      "  --link PATH           symbolic link PATH -> the pseudo-terminal (removed at exit)\n"
      "  --address N           Modbus address 1..247 (default 1)\n"
      "  --analyzers N|A,B,..  several analyzers on the line instead, each with its own\n"
      "                        states, faults and readings (Tg 25 deg C higher an\n"
      "                        address): at addresses 1..N (N 1..8), or at those listed\n"
      "                        (1..247, at most 8); events and replies' faults are\n"
      "                        prefixed \"@<address> \"\n"
      "  --pace                the line's timing at 9600 baud, 8N2 (a character 1.146 ms,\n"
      "                        half-duplex): a request counts from its last byte, after\n"
      "                        the reply before it; the reply starts 3.5 characters\n"
      "                        later and arrives whole when its last byte is through\n"
      "  --latency MS          with --pace: the analyzer's own reaction time (default 0)\n"
      "  --zero S              seconds of zero setting (default 10)\n"
      "  --measure S           seconds of measuring in a single measurement (default 20)\n"
      "  --purge S             seconds of purging (default 5)\n"
      "  --min-replies N       a timed state lasts at least N status replies (default 1)\n"
      "  --service DD.MM.YYYY  date of the last service (default 15.03.2025)\n"
      "  --hours N             running hours at start (default 1234)\n"
      "  --control PATH        read commands from this FIFO too (made if missing)\n"
      "  --settings PROGRAM    prepare the program's settings files for PROGRAM (its\n"
      "                        executable path): PROGRAM.ini gets the port and the\n"
      "                        address, Device-001.ini beside it is made if missing;\n"
      "                        with --analyzers, Device-00K.ini of slot K = 2..N too,\n"
      "                        its first byte the slot's address\n"
      "  --port-name NAME      port name for --settings (default: --link, the pty, or\n"
      "                        tcp://<host>:<port>)\n"
      "  --verbose             print every request and reply (RX, TX)\n"
      "  --seed N              seed of the garbage bytes (default 1)\n"
      "  --help\n",
      to);
  std::fputs(sim::commandHelp(), to);
}

// "N" (1..8): addresses 1..N; "A,B,...": those addresses (1..247, at most 8,
// none twice).
bool parseAnalyzers(const std::string& text, std::vector<int>& addresses) {
  const auto address = [](const std::string& s, long high) -> int {
    char* end = nullptr;
    const long v = s.empty() ? 0 : std::strtol(s.c_str(), &end, 10);
    return v >= 1 && v <= high && *end == '\0' ? int(v) : 0;
  };
  std::vector<int> found;
  if (text.find(',') == std::string::npos) {
    const int n = address(text, 8);
    for (int a = 1; a <= n; ++a) found.push_back(a);
  } else {
    size_t from = 0;
    for (;;) {
      const size_t comma = text.find(',', from);
      const int a = address(text.substr(from, comma - from), 247);
      if (a == 0 || std::find(found.begin(), found.end(), a) != found.end() || found.size() == 8)
        return false;
      found.push_back(a);
      if (comma == std::string::npos) break;
      from = comma + 1;
    }
  }
  if (found.empty()) return false;
  addresses = found;
  return true;
}

bool parseOptions(int argc, char** argv, Options& o) {
  const auto number = [](const char* s, double low, double high, double& out) {
    char* end = nullptr;
    const double v = std::strtod(s, &end);
    if (*end != '\0' || !(v >= low && v <= high)) return false;
    out = v;
    return true;
  };
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      usage(stdout);
      std::exit(0);
    }
    if (a == "--verbose") {
      o.verbose = true;
      continue;
    }
    if (a == "--pace") {
      o.pace = true;
      continue;
    }
    if (i + 1 >= argc) {
      std::fprintf(stderr, "korvex-sim: %s needs a value\n", a.c_str());
      return false;
    }
    const char* v = argv[++i];
    double d = 0;
    bool ok = true;
    if (a == "--device") o.device = v;
    else if (a == "--tcp") o.tcp = v;
    else if (a == "--link") o.link = v;
    else if (a == "--control") o.control = v;
    else if (a == "--settings") o.settings = v;
    else if (a == "--port-name") o.portName = v;
    else if (a == "--address") {
      ok = number(v, 1, 247, d) && (o.address = int(d), d == int(d));
      o.addressGiven = true;
    } else if (a == "--analyzers") ok = parseAnalyzers(v, o.analyzers);
    else if (a == "--latency") {
      ok = number(v, 0, 60000, o.latencyMs);
      o.latencyGiven = true;
    }
    else if (a == "--zero") ok = number(v, 0, 86400, o.durations.zero);
    else if (a == "--measure") ok = number(v, 0, 86400, o.durations.measure);
    else if (a == "--purge") ok = number(v, 0, 86400, o.durations.purge);
    else if (a == "--min-replies") ok = number(v, 0, 1000, d) && (o.minReplies = int(d), true);
    else if (a == "--hours") ok = number(v, 0, 65535, d) && (o.service.hours = int(d), true);
    else if (a == "--seed") ok = number(v, 0, 4294967295.0, d) && (o.seed = unsigned(d), true);
    else if (a == "--service") {
      ok = std::sscanf(v, "%d.%d.%d", &o.service.day, &o.service.month, &o.service.year) == 3 &&
           o.service.day >= 1 && o.service.day <= 31 && o.service.month >= 1 &&
           o.service.month <= 12 && o.service.year >= 0 && o.service.year <= 65535;
    } else {
      std::fprintf(stderr, "korvex-sim: unknown option %s (see --help)\n", a.c_str());
      return false;
    }
    if (!ok) {
      std::fprintf(stderr, "korvex-sim: bad value for %s: %s\n", a.c_str(), v);
      return false;
    }
  }
  if (!o.tcp.empty() && (!o.device.empty() || !o.link.empty())) {
    std::fprintf(stderr, "korvex-sim: --tcp goes with neither --device nor --link\n");
    return false;
  }
  if (o.addressGiven && !o.analyzers.empty()) {
    std::fprintf(stderr, "korvex-sim: --analyzers gives the addresses; --address goes without it\n");
    return false;
  }
  if (o.latencyGiven && !o.pace) {
    std::fprintf(stderr, "korvex-sim: --latency goes with --pace\n");
    return false;
  }
  return true;
}

// Writes the program's settings so that it starts connected to this
// simulator: the port name and the network address in "<program>.ini",
// defaults where a file is missing or not a whole record.
bool prepareSettings(const QString& program, const QString& portName, int address,
                     std::string* error) {
  if (portName.size() > 30) {
    *error = "the port name " + portName.toStdString() +
             " is longer than the 30 characters the settings file holds";
    return false;
  }
  SettingsFiles files(program);
  if (!files.load()) {
    const bool programWhole = QFileInfo(files.settingsPath()).size() >= kProgramSettingsSize;
    const bool deviceWhole = QFileInfo(files.devicePath()).size() >= kDeviceRecordSize;
    if (!programWhole) {
      files.deviceRecord() = DeviceRecord{};
      files.deviceRecord().deviceSlot = 1;
      files.reset();
      if (deviceWhole) {
        // Keep the device file: write the program's record first, then let
        // the loader read the device record that is already there.
        const ProgramSettings fresh = files.programRecord();
        if (!writeFileAtomically(files.settingsPath(),
                                 QByteArray(reinterpret_cast<const char*>(&fresh), sizeof fresh))) {
          *error = "cannot write " + files.settingsPath().toStdString();
          return false;
        }
        if (!files.load()) {
          files.deviceRecord() = DeviceRecord{};
          files.deviceRecord().deviceSlot = 1;
          files.reset();
          files.programRecord() = fresh;
        }
      }
    } else {
      const ProgramSettings loaded = files.programRecord();
      files.deviceRecord() = DeviceRecord{};
      files.deviceRecord().deviceSlot = 1;
      files.reset();
      files.programRecord() = loaded;
    }
  }
  MeasuringSettings measuring = files.measuring();
  measuring.portName = portName;
  measuring.address = uint8_t(address);
  if (!files.setMeasuring(measuring)) {
    *error = "the port name " + portName.toStdString() + " cannot be stored in Windows-1251";
    return false;
  }
  if (!files.save()) {
    *error = "cannot write the settings files " + files.settingsPath().toStdString() + ", " +
             files.devicePath().toStdString();
    return false;
  }
  return true;
}

// The device files of slots 2..N beside the program's own ("Device-002.ini"
// and on), one for each further analyzer on the line, its first byte that
// analyzer's address. A file that is there keeps every other byte.
bool prepareSlotFiles(const QString& program, const std::vector<int>& addresses,
                      std::string* error) {
  const SettingsFiles files(program);
  for (size_t k = 2; k <= addresses.size(); ++k) {
    QString path;
    if (!files.addLineAnalyzer(int(k), uint8_t(addresses[k - 1]), &path)) {
      *error = "cannot write " + path.toStdString();
      return false;
    }
  }
  return true;
}

// One analyzer on the line: a libmodbus slave of its own on an inner
// pseudo-terminal of its own, answering from its Analyzer in a thread of its
// own, as the devices on a bus are each on their own.
struct Slave {
  int address = 1;
  std::string tag;  // before its events: "@<address> " when there are several
  sim::Pty inner;
  modbus_t* ctx = nullptr;
  modbus_mapping_t* map = nullptr;
  std::unique_ptr<sim::Analyzer> analyzer;
  sim::LineFaults faults;  // of its replies alone
  sim::StationCounts counts;
  std::vector<uint8_t> replyBytes;  // from libmodbus, not yet a whole reply
  // --pace: its reply's first byte goes on the line no earlier.
  std::chrono::steady_clock::time_point replyNotBefore{};
  std::thread thread;
};

// The Modbus side of one analyzer: answers requests from its inner
// pseudo-terminal.
void modbusLoop(Slave& slave, sim::LineFaults& lineFaults, std::mutex& faultsMutex,
                std::atomic<bool>& stop, bool verbose) {
  uint8_t query[MODBUS_RTU_MAX_ADU_LENGTH];
  modbus_t* ctx = slave.ctx;
  const int header = modbus_get_header_length(ctx);
  const sim::FaultsInForce faults{&lineFaults, &slave.faults};
  while (!stop) {
    const int rc = modbus_receive(ctx, query);
    if (rc <= 0) continue;  // time-out, a broken frame, or another address
    ++slave.counts.requests;
    {
      std::lock_guard<std::mutex> lock(faultsMutex);
      if (faults.take(&sim::LineFaults::silence)) {
        if (verbose) say(slave.tag + "RX " + sim::hex(query, size_t(rc)));
        say(slave.tag + "FAULT silence");
        continue;
      }
    }
    if (verbose) say(slave.tag + "RX " + sim::hex(query, size_t(rc)));
    const uint8_t function = query[header];
    if (function == 0x04) {
      const sim::Registers regs = slave.analyzer->statusReply();
      for (size_t k = 0; k < regs.size(); ++k) slave.map->tab_input_registers[k] = regs[k];
    }
    modbus_reply(ctx, query, rc, slave.map);
    if (function == 0x06) {
      const int reg = query[header + 1] << 8 | query[header + 2];
      const uint16_t value = uint16_t(query[header + 3] << 8 | query[header + 4]);
      if (reg == 0) slave.analyzer->command(value);
    }
  }
}

// Lines of commands arriving on a descriptor.
struct CommandReader {
  int fd = -1;
  std::string pending;
  // Reads what is there; false at end of input.
  bool read(std::vector<std::string>& lines) {
    char buf[512];
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n == 0) return false;
    if (n < 0) return errno == EAGAIN || errno == EINTR;
    pending.append(buf, size_t(n));
    for (size_t at; (at = pending.find('\n')) != std::string::npos;) {
      std::string line = pending.substr(0, at);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      lines.push_back(line);
      pending.erase(0, at + 1);
    }
    return true;
  }
};

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!parseOptions(argc, argv, o)) return 2;
  signal(SIGPIPE, SIG_IGN);
  if (pipe(g_signalPipe) != 0) return 1;
  fcntl(g_signalPipe[0], F_SETFL, O_NONBLOCK);
  struct sigaction sa {};
  sa.sa_handler = onSignal;
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGHUP, &sa, nullptr);

  std::string error;
  // The Modbus side: one slave for each address on the line.
  const bool several = !o.analyzers.empty();
  const std::vector<int> addresses = several ? o.analyzers : std::vector<int>{o.address};
  std::vector<std::unique_ptr<Slave>> slaves;
  for (const int address : addresses) {
    auto slave = std::make_unique<Slave>();
    slave->address = address;
    if (several) slave->tag = "@" + std::to_string(address) + " ";
    if (!sim::openPty(slave->inner, &error)) {
      std::fprintf(stderr, "korvex-sim: %s\n", error.c_str());
      return 1;
    }
    slaves.push_back(std::move(slave));
  }
  // The program's side: a pseudo-terminal, a serial device, or a TCP
  // connection (lineFd, once a client is there) taken from listenFd.
  const bool tcp = !o.tcp.empty();
  sim::Pty outer;
  int lineFd = -1;
  int listenFd = -1;
  std::string portPath;
  std::string tcpAddress;
  std::string client;  // the TCP peer being served
  if (tcp) {
    sim::TcpAddress address;
    if (!sim::parseTcpAddress(o.tcp, address, &error) ||
        (listenFd = sim::listenTcp(address, &tcpAddress, &error)) < 0) {
      std::fprintf(stderr, "korvex-sim: %s\n", error.c_str());
      return 1;
    }
    portPath = "tcp://" + tcpAddress;
  } else if (o.device.empty()) {
    if (!sim::openPty(outer, &error)) {
      std::fprintf(stderr, "korvex-sim: %s\n", error.c_str());
      return 1;
    }
    lineFd = outer.master;
    portPath = outer.path;
  } else {
    lineFd = sim::openSerialDevice(o.device, &error);
    if (lineFd < 0) {
      std::fprintf(stderr, "korvex-sim: %s\n", error.c_str());
      return 1;
    }
    portPath = o.device;
  }
  if (!o.link.empty()) {
    struct stat st {};
    if (lstat(o.link.c_str(), &st) == 0) {
      if (!S_ISLNK(st.st_mode)) {
        std::fprintf(stderr, "korvex-sim: %s exists and is not a symbolic link\n", o.link.c_str());
        return 1;
      }
      unlink(o.link.c_str());
    }
    if (symlink(portPath.c_str(), o.link.c_str()) != 0) {
      std::fprintf(stderr, "korvex-sim: cannot link %s: %s\n", o.link.c_str(), std::strerror(errno));
      return 1;
    }
  }
  if (!o.settings.empty()) {
    // "tcp://" and a numeric IPv4 address with its port fit the 30 characters.
    std::string name = !o.portName.empty() ? o.portName : !o.link.empty() ? o.link : portPath;
    if (!o.device.empty() && o.portName.empty()) {
      std::fprintf(stderr, "korvex-sim: with --device, --settings needs --port-name\n");
      return 1;
    }
    const QString program = QString::fromLocal8Bit(o.settings.c_str());
    if (!prepareSettings(program, QString::fromLocal8Bit(name.c_str()), addresses.front(), &error) ||
        !prepareSlotFiles(program, addresses, &error)) {
      std::fprintf(stderr, "korvex-sim: %s\n", error.c_str());
      if (!o.link.empty()) unlink(o.link.c_str());
      return 1;
    }
  }

  sim::LineFaults faults;  // of the whole line
  std::mutex faultsMutex;
  std::atomic<bool> stop{false};
  for (auto& slave : slaves) {
    const char* inner = slave->inner.path.c_str();
    slave->ctx = modbus_new_rtu(inner, 9600, 'N', 8, 2);
    if (!slave->ctx || modbus_set_slave(slave->ctx, slave->address) != 0 ||
        modbus_connect(slave->ctx) != 0) {
      std::fprintf(stderr, "korvex-sim: libmodbus on %s: %s\n", inner, modbus_strerror(errno));
      return 1;
    }
    modbus_set_indication_timeout(slave->ctx, 0, 200000);  // to notice the end
    // Holding register 0 (the command) and input registers 0..13.
    slave->map = modbus_mapping_new_start_address(0, 0, 0, 0, 0, 1, 0, 14);
    if (!slave->map) {
      std::fprintf(stderr, "korvex-sim: %s\n", modbus_strerror(errno));
      return 1;
    }
    const std::string tag = slave->tag;
    slave->analyzer = std::make_unique<sim::Analyzer>(
        o.durations, o.minReplies, o.service, [tag](const std::string& event) { say(tag + event); },
        slave->address);
  }
  CommandReader input;
  input.fd = STDIN_FILENO;
  fcntl(STDIN_FILENO, F_SETFL, fcntl(STDIN_FILENO, F_GETFL) | O_NONBLOCK);
  bool inputOpen = true;
  CommandReader fifo;
  if (!o.control.empty()) {
    struct stat st {};
    if (stat(o.control.c_str(), &st) != 0 && mkfifo(o.control.c_str(), 0600) != 0) {
      std::fprintf(stderr, "korvex-sim: cannot make %s: %s\n", o.control.c_str(), std::strerror(errno));
      return 1;
    }
    // Read-write, so that the FIFO never reports the end when a writer leaves.
    fifo.fd = open(o.control.c_str(), O_RDWR | O_NONBLOCK);
    if (fifo.fd < 0) {
      std::fprintf(stderr, "korvex-sim: cannot open %s: %s\n", o.control.c_str(), std::strerror(errno));
      return 1;
    }
  }

  // The threads start after the last early return: a thread still joinable
  // there would abort the process instead of its message.
  for (auto& slave : slaves)
    slave->thread = std::thread(modbusLoop, std::ref(*slave), std::ref(faults), std::ref(faultsMutex),
                                std::ref(stop), o.verbose);

  if (tcp) say("TCP " + tcpAddress);
  say("PORT " + portPath);
  if (!o.link.empty()) say("LINK " + o.link);
  say("READY");

  sim::LineCounts lineCounts;
  sim::Controls controls;
  for (auto& slave : slaves)
    controls.stations.push_back({slave->address, slave->analyzer.get(), &slave->faults, &slave->counts});
  controls.faults = &faults;
  controls.faultsMutex = &faultsMutex;
  controls.line = &lineCounts;
  controls.several = several;
  controls.tcp = tcp;
  sim::Outbox outbox;
  std::mt19937 random(o.seed);

  using Clock = std::chrono::steady_clock;
  // A single analyzer without --pace gets the program's bytes as they come,
  // as it always has; otherwise they are cut into frames, each passed on to
  // the analyzer it is addressed to (a broadcast to all of them, one to an
  // address nobody has to none) when it counts as received. Either way the
  // frames are counted, and checked for the silent interval.
  const bool passThrough = !several && !o.pace;
  const auto latency = std::chrono::duration_cast<Clock::duration>(
      std::chrono::duration<double, std::milli>(o.latencyMs));
  sim::RequestFramer framer;
  struct PendingRequest {
    std::vector<uint8_t> bytes;
    Clock::time_point due;
  };
  std::deque<PendingRequest> requests;
  Clock::time_point lastRequestEnd{};  // --pace: of the last request on the line

  const auto takeRequestBytes = [&](const uint8_t* bytes, size_t n) {
    const auto now = Clock::now();
    if (passThrough) {
      [[maybe_unused]] const ssize_t w = write(slaves.front()->inner.master, bytes, n);
    }
    std::vector<sim::RequestFramer::Frame> frames;
    framer.add(bytes, n, now, outbox.lineEnd(), frames);
    for (auto& frame : frames) {
      ++lineCounts.requests;
      if (frame.tooSoon) ++lineCounts.gapViolations;
      if (passThrough) continue;
      Clock::time_point due = now;
      if (o.pace) {
        // Half-duplex: the request's bytes go after the reply and the request
        // before them; it is received when its last byte is through.
        Clock::time_point from = std::max(frame.arrival, lastRequestEnd);
        if (const auto end = outbox.lineEnd()) from = std::max(from, *end);
        due = from + sim::kCharacterTime * long(frame.bytes.size());
        lastRequestEnd = due;
      }
      requests.push_back({std::move(frame.bytes), due});
    }
  };
  const auto deliverRequests = [&]() {
    const auto now = Clock::now();
    while (!requests.empty() && requests.front().due <= now) {
      const PendingRequest& r = requests.front();
      for (auto& slave : slaves) {
        if (r.bytes[0] != 0 && r.bytes[0] != slave->address) continue;
        slave->replyNotBefore = r.due + sim::kSilentInterval + latency;
        [[maybe_unused]] const ssize_t w = write(slave->inner.master, r.bytes.data(), r.bytes.size());
      }
      requests.pop_front();
    }
  };
  // Passes what the program sent on to libmodbus; false when its side ended.
  const auto relayRequests = [&]() {
    for (;;) {
      uint8_t buf[512];
      const ssize_t n = read(lineFd, buf, sizeof buf);
      if (n > 0) {
        takeRequestBytes(buf, size_t(n));
      } else if (n < 0 && errno == EINTR) {
        continue;
      } else {
        return n < 0 && errno == EAGAIN;
      }
    }
  };
  // Takes what one analyzer's libmodbus answered; whole replies get the line
  // faults (the line's and its own) and go out, at their time with --pace;
  // what cannot be framed goes as it is.
  const auto relayReplies = [&](Slave& slave) {
    uint8_t buf[512];
    const ssize_t n = read(slave.inner.master, buf, sizeof buf);
    std::vector<uint8_t>& replyBytes = slave.replyBytes;
    if (n > 0) replyBytes.insert(replyBytes.end(), buf, buf + n);
    for (;;) {
      const int length = sim::replyFrameLength(replyBytes.data(), replyBytes.size());
      if (length == 0 || size_t(length) > replyBytes.size()) break;
      const size_t take = length < 0 ? replyBytes.size() : size_t(length);
      std::vector<uint8_t> frame(replyBytes.begin(), replyBytes.begin() + take);
      replyBytes.erase(replyBytes.begin(), replyBytes.begin() + take);
      sim::ReplyTiming timing{Clock::now()};
      if (o.pace) {
        timing.start = std::max(timing.start, slave.replyNotBefore);
        if (const auto end = outbox.lineEnd()) timing.start = std::max(timing.start, *end);
        timing.character = sim::kCharacterTime;
      }
      std::string note;
      {
        std::lock_guard<std::mutex> lock(faultsMutex);
        note = sim::shapeReply(frame, sim::FaultsInForce{&faults, &slave.faults}, outbox, random, timing);
      }
      ++slave.counts.replies;
      if (o.verbose) say(slave.tag + "TX " + sim::hex(frame.data(), frame.size()));
      if (!note.empty()) say(slave.tag + "FAULT" + note);
    }
  };
  // Closes the program's side. A TCP connection the simulator ends is reset;
  // requests libmodbus has not read yet and replies not relayed yet belong to
  // it, so the next client gets none of them.
  const auto endLine = [&](bool reset) {
    if (lineFd < 0) return;
    if (tcp) {
      if (reset) sim::resetTcp(lineFd);
      else close(lineFd);
      for (auto& slave : slaves) {
        tcflush(slave->inner.slave, TCIFLUSH);
        for (uint8_t buf[512]; read(slave->inner.master, buf, sizeof buf) > 0;) {
        }
        slave->replyBytes.clear();
      }
    } else if (o.device.empty()) {
      sim::closePty(outer);
    } else {
      close(lineFd);
    }
    lineFd = -1;
    outbox.clear();
    framer.clear();
    requests.clear();
  };

  enum { kSignal, kLine, kInput, kFifo, kListen, kSlaves };
  while (!controls.quit) {
    std::vector<pollfd> fds;
    fds.push_back({g_signalPipe[0], POLLIN, 0});
    fds.push_back({lineFd, short(lineFd >= 0 ? POLLIN : 0), 0});
    fds.push_back({inputOpen ? STDIN_FILENO : -1, POLLIN, 0});
    fds.push_back({fifo.fd, POLLIN, 0});
    fds.push_back({listenFd, POLLIN, 0});
    for (auto& slave : slaves) fds.push_back({slave->inner.master, POLLIN, 0});
    // The analyzers' timers, or the next bytes due on either side.
    auto wake = Clock::now() + std::chrono::milliseconds(50);
    if (const auto next = outbox.nextDue()) wake = std::min(wake, *next);
    if (!requests.empty()) wake = std::min(wake, requests.front().due);
    const auto wait = std::max(Clock::duration::zero(), wake - Clock::now());
    const auto waitNs = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
    const timespec timeout{time_t(waitNs / 1000000000), long(waitNs % 1000000000)};
    if (ppoll(fds.data(), fds.size(), &timeout, nullptr) < 0 && errno != EINTR) break;

    if (fds[kSignal].revents) break;
    for (size_t k = 0; k < slaves.size(); ++k)
      if (fds[kSlaves + k].revents & POLLIN) relayReplies(*slaves[k]);
    if (lineFd >= 0 && fds[kLine].revents && !relayRequests()) {
      say(tcp ? "CLIENT " + client + " closed" : std::string("LINE closed"));
      endLine(false);
    }
    if (fds[kListen].revents & POLLIN) {
      // A client that left just before this one came must not make it busy.
      if (lineFd >= 0 && !relayRequests()) {
        say("CLIENT " + client + " closed");
        endLine(false);
      }
      std::string peer;
      const int fd = sim::acceptTcp(listenFd, &peer);
      if (fd >= 0 && lineFd >= 0) {
        sim::resetTcp(fd);
        say("CLIENT " + peer + " refused (busy)");
      } else if (fd >= 0) {
        lineFd = fd;
        client = peer;
        say("CLIENT " + client + " connected");
      }
    }
    std::vector<std::string> lines;
    if (inputOpen && fds[kInput].revents && !input.read(lines)) inputOpen = false;
    if (fifo.fd >= 0 && fds[kFifo].revents) fifo.read(lines);
    for (const auto& line : lines) {
      const std::string answer = sim::runCommand(line, controls);
      if (!answer.empty()) say(answer);
      if (controls.drop) {
        controls.drop = false;
        if (lineFd >= 0) say("CLIENT " + client + " dropped");
        endLine(true);
      }
      if (controls.hangup) {
        controls.hangup = false;
        if (tcp && lineFd >= 0) say("CLIENT " + client + " hung up");
        endLine(true);
        // On TCP the port goes away too: later connections are refused.
        if (listenFd >= 0) close(listenFd);
        listenFd = -1;
      }
      if (controls.quit) break;
    }
    for (auto& slave : slaves) slave->analyzer->advance();
    deliverRequests();
    outbox.flush(lineFd);
  }

  stop = true;
  for (auto& slave : slaves) {
    slave->thread.join();
    modbus_close(slave->ctx);
    modbus_free(slave->ctx);
    modbus_mapping_free(slave->map);
  }
  if (!o.link.empty()) unlink(o.link.c_str());
  endLine(false);
  if (listenFd >= 0) close(listenFd);
  for (auto& slave : slaves) sim::closePty(slave->inner);
  if (fifo.fd >= 0) close(fifo.fd);
  say("GAP VIOLATIONS " + std::to_string(lineCounts.gapViolations) + " of " +
      std::to_string(lineCounts.requests) + " requests");
  say("BYE");
  return 0;
}
