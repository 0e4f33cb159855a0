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

std::string faultCounters(const LineFaults& f) {
  return " silence=" + std::to_string(f.silence) + " crc=" + std::to_string(f.badCrc) +
         " cut=" + std::to_string(f.cut) + " split=" + std::to_string(f.split) +
         " garbage=" + std::to_string(f.garbage);
}

std::string counts(const Station& s) {
  return " requests=" + std::to_string(s.counts ? s.counts->requests.load() : 0) +
         " replies=" + std::to_string(s.counts ? s.counts->replies.load() : 0);
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
         "  status                 print the state and counters (requests, replies,\n"
         "                         gap_violations: requests less than 3.5 characters\n"
         "                         after the end of a reply)\n"
         "  hangup                 close the line: the program's port goes away\n"
         "                         (--tcp: the connection is reset, the port stops listening)\n"
         "  drop                   --tcp: reset the connection at once, go on listening\n"
         "  quit                   end the simulator\n"
         "  @N COMMAND             for the analyzer at address N alone (its line faults\n"
         "                         hit its replies only); without @N a command goes to\n"
         "                         every analyzer, a line fault to the whole line\n"
         "                         (hangup, drop and quit go without @N)\n"
         "Every command is answered with a line \"OK <command>\" or \"ERROR <why>\".\n";
}

std::string runCommand(const std::string& line, Controls& c) {
  std::istringstream in(line);
  std::vector<std::string> w;
  for (std::string word; in >> word;) w.push_back(word);
  if (w.empty()) return "";
  const std::string ok = "OK " + line;

  // "@N": the analyzer at address N alone.
  std::vector<Station*> targets;
  Station* only = nullptr;
  if (w[0][0] == '@') {
    const std::string digits = w[0].substr(1);
    char* end = nullptr;
    const long address = digits.empty() ? -1 : std::strtol(digits.c_str(), &end, 10);
    if (address < 1 || address > 247 || *end != '\0')
      return "ERROR bad address " + w[0] + " (expected @1..@247)";
    for (Station& s : c.stations)
      if (s.address == address) only = &s;
    if (!only) return "ERROR no analyzer at address " + std::to_string(address);
    targets.push_back(only);
    w.erase(w.begin());
    if (w.empty()) return "ERROR usage: @N COMMAND";
  } else {
    for (Station& s : c.stations) targets.push_back(&s);
  }
  const std::string& cmd = w[0];
  const auto arg = [&w](size_t i) { return i < w.size() ? w[i] : std::string(); };
  const auto each = [&](auto&& action) {
    for (Station* s : targets) action(*s->analyzer);
  };
  // The faults a line fault command sets: the analyzer's own, or the line's.
  LineFaults& faults = only ? *only->faults : *c.faults;
  const auto lineFault = [&](int LineFaults::*counter) -> std::string {
    const auto n = count(arg(1));
    if (!n || w.size() != 2) return "ERROR usage: " + cmd + " on|off|N";
    std::lock_guard<std::mutex> lock(*c.faultsMutex);
    faults.*counter = *n;
    return ok;
  };

  if (cmd == "faults") {
    const auto v = number(arg(1), 0, 0xFFFF);
    if (!v || w.size() != 2) return "ERROR usage: faults WORD";
    each([&](Analyzer& a) { a.setFaultWord(uint16_t(*v)); });
    return ok;
  }
  if (cmd == "special") {
    const int reg = channelRegister(arg(1));
    if (reg < 0 || w.size() != 3) return "ERROR usage: special tg|ta|o2|co|no|no2|so2|h2s CODE|off";
    if (arg(2) == "off") {
      each([&](Analyzer& a) { a.setSpecial(reg, std::nullopt); });
      return ok;
    }
    const auto code = SpecialCode(arg(2));
    if (!code) return "ERROR unknown code " + arg(2);
    each([&](Analyzer& a) { a.setSpecial(reg, code); });
    return ok;
  }
  if (cmd == "set") {
    const auto reg = number(arg(1), 0, 13);
    if (!reg || w.size() != 3) return "ERROR usage: set REG VALUE|off";
    if (arg(2) == "off") {
      each([&](Analyzer& a) { a.setRaw(int(*reg), std::nullopt); });
      return ok;
    }
    // Negative values for the signed temperature registers.
    const auto v = number(arg(2), -32768, 65535);
    if (!v) return "ERROR bad value " + arg(2);
    each([&](Analyzer& a) { a.setRaw(int(*reg), uint16_t(*v)); });
    return ok;
  }
  if (cmd == "manual") {
    if (w.size() != 2 || (arg(1) != "on" && arg(1) != "off")) return "ERROR usage: manual on|off";
    each([&](Analyzer& a) { a.setManual(arg(1) == "on"); });
    return ok;
  }
  if (cmd == "silence") return lineFault(&LineFaults::silence);
  if (cmd == "crc") return lineFault(&LineFaults::badCrc);
  if (cmd == "cut") return lineFault(&LineFaults::cut);
  if (cmd == "split" || cmd == "garbage") {
    const bool split = cmd == "split";
    std::lock_guard<std::mutex> lock(*c.faultsMutex);
    int& counter = split ? faults.split : faults.garbage;
    if (arg(1) == "off" && w.size() == 2) {
      counter = 0;
      return ok;
    }
    const auto amount = number(arg(1), 1, split ? 60000 : 256);
    const auto n = w.size() == 3 ? count(arg(2)) : std::optional<int>(-1);
    if (!amount || !n || w.size() > 3)
      return split ? "ERROR usage: split MS [N]|off" : "ERROR usage: garbage BYTES [N]|off";
    (split ? faults.splitMs : faults.garbageBytes) = int(*amount);
    counter = *n;
    return ok;
  }
  if (cmd == "times") {
    const auto z = seconds(arg(1)), m = seconds(arg(2)), p = seconds(arg(3));
    if (!z || !m || !p || w.size() != 4) return "ERROR usage: times ZERO MEASURE PURGE";
    each([&](Analyzer& a) { a.setDurations({*z, *m, *p}); });
    return ok;
  }
  if (cmd == "min-replies") {
    const auto n = number(arg(1), 0, 1000);
    if (!n || w.size() != 2) return "ERROR usage: min-replies N";
    each([&](Analyzer& a) { a.setMinReplies(int(*n)); });
    return ok;
  }
  if (cmd == "normal") {
    each([](Analyzer& a) { a.clearFaults(); });
    std::lock_guard<std::mutex> lock(*c.faultsMutex);
    const LineFaults defaults;
    if (!only) *c.faults = defaults;
    for (Station* s : targets) *s->faults = defaults;
    return ok;
  }
  if (cmd == "status") {
    std::vector<std::string> states;
    for (const Station* st : targets) states.push_back(st->analyzer->status());
    std::string s = "STATUS";
    std::lock_guard<std::mutex> lock(*c.faultsMutex);
    const long gaps = c.line ? c.line->gapViolations : 0;
    if (!c.several) {
      // The one analyzer and the line, on one line as ever.
      return s + " " + states.front() + faultCounters(*c.faults) + counts(*targets.front()) +
             " gap_violations=" + std::to_string(gaps);
    }
    // Every analyzer, then the line, on one line: "... | @2 state=... | line ...".
    for (size_t i = 0; i < targets.size(); ++i) {
      if (i > 0) s += " |";
      s += " @" + std::to_string(targets[i]->address) + " " + states[i] + counts(*targets[i]) +
           faultCounters(*targets[i]->faults);
    }
    if (!only) {
      s += " | line requests=" + std::to_string(c.line ? c.line->requests : 0) +
           " gap_violations=" + std::to_string(gaps) + faultCounters(*c.faults);
    }
    return s;
  }
  if (cmd == "hangup" || cmd == "drop" || cmd == "quit" || cmd == "exit") {
    if (only) return "ERROR " + cmd + " is a command of the whole line, not of one address";
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
