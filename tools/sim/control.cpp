#include "sim/control.h"

#include <cstdlib>
#include <optional>
#include <sstream>
#include <vector>

namespace sim {

namespace {

std::optional<long> number(const std::string& s, long low, long high) {
  if (s.empty()) return std::nullopt;
  char* end = nullptr;
  const long v = std::strtol(s.c_str(), &end, 0);  // decimal or 0x hex
  if (*end != '\0' || v < low || v > high) return std::nullopt;
  return v;
}

std::optional<double> seconds(const std::string& s) {
  if (s.empty()) return std::nullopt;
  char* end = nullptr;
  const double v = std::strtod(s.c_str(), &end);
  if (*end != '\0' || !(v >= 0) || v > 86400) return std::nullopt;
  return v;
}

// "on" = every frame, "off" = none, N = the next N frames.
std::optional<int> count(const std::string& s) {
  if (s == "on") return -1;
  if (s == "off") return 0;
  const auto n = number(s, 0, 1000000);
  if (!n) return std::nullopt;
  return int(*n);
}

std::optional<uint16_t> SpecialCode(const std::string& s) {
  if (s == "overload") return uint16_t(32768);
  if (s == "error") return uint16_t(32769);
  if (s == "novalue") return uint16_t(32770);
  const auto n = number(s, 0, 65535);
  if (!n) return std::nullopt;
  return uint16_t(*n);
}

}  // namespace

const char* commandHelp() {
  return "Commands (one per line, on stdin or the --control FIFO):\n"
         "  faults WORD            fault word, register 1 (decimal or 0x hex)\n"
         "  special CH CODE|off    CH: tg ta o2 co no no2 so2 h2s; CODE: overload, error,\n"
         "                         novalue or a number (32768, 32769, 32770)\n"
         "  set REG VALUE|off      input register 0..13 fixed to VALUE\n"
         "  manual on|off          manual operation at the panel (state 4)\n"
         "  silence on|off|N       requests neither answered nor obeyed (N: the next N)\n"
         "  crc on|off|N           replies with a wrong CRC\n"
         "  cut on|off|N           replies broken off halfway\n"
         "  split MS [N]|off       replies sent in two parts MS ms apart\n"
         "  garbage BYTES [N]|off  BYTES random bytes sent after each reply\n"
         "  times Z M P            seconds of zero setting, measuring, purging\n"
         "  min-replies N          a timed state lasts at least N status replies\n"
         "  normal                 all faults off\n"
         "  status                 print the state and counters\n"
         "  hangup                 close the line: the program's port goes away\n"
         "                         (--tcp: the connection is reset, the port stops listening)\n"
         "  drop                   --tcp: reset the connection at once, go on listening\n"
         "  quit                   end the simulator\n"
         "Every command is answered with a line \"OK <command>\" or \"ERROR <why>\".\n";
}

std::string runCommand(const std::string& line, Controls& c) {
  std::istringstream in(line);
  std::vector<std::string> w;
  for (std::string word; in >> word;) w.push_back(word);
  if (w.empty()) return "";
  const std::string ok = "OK " + line;
  const std::string& cmd = w[0];
  const auto arg = [&w](size_t i) { return i < w.size() ? w[i] : std::string(); };
  const auto lineFault = [&](int LineFaults::*counter) -> std::string {
    const auto n = count(arg(1));
    if (!n || w.size() != 2) return "ERROR usage: " + cmd + " on|off|N";
    std::lock_guard<std::mutex> lock(*c.faultsMutex);
    c.faults->*counter = *n;
    return ok;
  };

  if (cmd == "faults") {
    const auto v = number(arg(1), 0, 0xFFFF);
    if (!v || w.size() != 2) return "ERROR usage: faults WORD";
    c.analyzer->setFaultWord(uint16_t(*v));
    return ok;
  }
  if (cmd == "special") {
    const int reg = channelRegister(arg(1));
    if (reg < 0 || w.size() != 3) return "ERROR usage: special tg|ta|o2|co|no|no2|so2|h2s CODE|off";
    if (arg(2) == "off") {
      c.analyzer->setSpecial(reg, std::nullopt);
      return ok;
    }
    const auto code = SpecialCode(arg(2));
    if (!code) return "ERROR unknown code " + arg(2);
    c.analyzer->setSpecial(reg, code);
    return ok;
  }
  if (cmd == "set") {
    const auto reg = number(arg(1), 0, 13);
    if (!reg || w.size() != 3) return "ERROR usage: set REG VALUE|off";
    if (arg(2) == "off") {
      c.analyzer->setRaw(int(*reg), std::nullopt);
      return ok;
    }
    // Negative values for the signed temperature registers.
    const auto v = number(arg(2), -32768, 65535);
    if (!v) return "ERROR bad value " + arg(2);
    c.analyzer->setRaw(int(*reg), uint16_t(*v));
    return ok;
  }
  if (cmd == "manual") {
    if (w.size() != 2 || (arg(1) != "on" && arg(1) != "off")) return "ERROR usage: manual on|off";
    c.analyzer->setManual(arg(1) == "on");
    return ok;
  }
  if (cmd == "silence") return lineFault(&LineFaults::silence);
  if (cmd == "crc") return lineFault(&LineFaults::badCrc);
  if (cmd == "cut") return lineFault(&LineFaults::cut);
  if (cmd == "split" || cmd == "garbage") {
    const bool split = cmd == "split";
    std::lock_guard<std::mutex> lock(*c.faultsMutex);
    int& counter = split ? c.faults->split : c.faults->garbage;
    if (arg(1) == "off" && w.size() == 2) {
      counter = 0;
      return ok;
    }
    const auto amount = number(arg(1), 1, split ? 60000 : 256);
    const auto n = w.size() == 3 ? count(arg(2)) : std::optional<int>(-1);
    if (!amount || !n || w.size() > 3)
      return split ? "ERROR usage: split MS [N]|off" : "ERROR usage: garbage BYTES [N]|off";
    (split ? c.faults->splitMs : c.faults->garbageBytes) = int(*amount);
    counter = *n;
    return ok;
  }
  if (cmd == "times") {
    const auto z = seconds(arg(1)), m = seconds(arg(2)), p = seconds(arg(3));
    if (!z || !m || !p || w.size() != 4) return "ERROR usage: times ZERO MEASURE PURGE";
    c.analyzer->setDurations({*z, *m, *p});
    return ok;
  }
  if (cmd == "min-replies") {
    const auto n = number(arg(1), 0, 1000);
    if (!n || w.size() != 2) return "ERROR usage: min-replies N";
    c.analyzer->setMinReplies(int(*n));
    return ok;
  }
  if (cmd == "normal") {
    c.analyzer->clearFaults();
    std::lock_guard<std::mutex> lock(*c.faultsMutex);
    const LineFaults defaults;
    *c.faults = defaults;
    return ok;
  }
  if (cmd == "status") {
    std::string s = "STATUS " + c.analyzer->status();
    std::lock_guard<std::mutex> lock(*c.faultsMutex);
    const LineFaults& f = *c.faults;
    s += " silence=" + std::to_string(f.silence) + " crc=" + std::to_string(f.badCrc) +
         " cut=" + std::to_string(f.cut) + " split=" + std::to_string(f.split) +
         " garbage=" + std::to_string(f.garbage);
    return s;
  }
  if (cmd == "hangup") {
    c.hangup = true;
    return ok;
  }
  if (cmd == "drop") {
    if (!c.tcp) return "ERROR drop needs the TCP mode (--tcp)";
    c.drop = true;
    return ok;
  }
  if (cmd == "quit" || cmd == "exit") {
    c.quit = true;
    return ok;
  }
  return "ERROR unknown command: " + cmd;
}

}  // namespace sim
