#pragma once
// The simulator's serial side: pseudo-terminal pairs, a real serial device
// set to 9600 8N2, the framing of Modbus RTU replies, and the line faults
// that are applied to replies on their way to the program.

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace sim {

// A pseudo-terminal pair. The slave side stays open here as well, so the
// master never reads a hang-up while the program has not opened its side
// yet or has closed it; nothing is ever read from that descriptor.
struct Pty {
  int master = -1;
  int slave = -1;
  std::string path;  // of the slave side
};

bool openPty(Pty& pty, std::string* error);
void closePty(Pty& pty);

// Opens a serial device without becoming its controlling process, raw,
// 9600 baud, 8 data bits, no parity, 2 stop bits, no flow control.
int openSerialDevice(const std::string& path, std::string* error);
// Sets those line settings on any terminal descriptor.
bool setLine9600N82(int fd);

// The line's timing at 9600 baud, 8N2: a character is 11 bits (start, 8
// data, 2 stop), and frames are kept apart by a silence of 3.5 characters.
inline constexpr std::chrono::nanoseconds kCharacterTime{1145833};
inline constexpr std::chrono::nanoseconds kSilentInterval{4010417};

// Length of the Modbus RTU reply at the start of `bytes`: 0 while too few
// bytes are there to tell, -1 when the function code is not one a slave
// answers with (then the bytes are passed on as they are).
int replyFrameLength(const uint8_t* bytes, size_t n);
// Length of the Modbus RTU request at the start of `bytes`: 0 while too few
// bytes are there to tell, -1 for a function whose length is unknown here
// (then whatever came is taken as one frame).
int requestFrameLength(const uint8_t* bytes, size_t n);

// Faults applied on the line. Each counter: 0 off, -1 on every frame, N > 0
// on the next N frames.
struct LineFaults {
  int silence = 0;  // requests are neither answered nor obeyed
  int badCrc = 0;   // the reply's last byte is spoilt
  int cut = 0;      // only the first half of the reply is sent
  int split = 0;    // the reply is sent in two parts, splitMs apart
  int splitMs = 100;
  int garbage = 0;  // garbageBytes random bytes follow the reply
  int garbageBytes = 5;
};

// True when the fault of `counter` applies to this frame; counts it down.
bool takeFault(int& counter);

// The faults a reply of one analyzer meets: those of the whole line, then
// those given for its address alone (none: `own` null).
struct FaultsInForce {
  LineFaults* line = nullptr;
  LineFaults* own = nullptr;
  // True when one of them applies (the line's is taken first); `from` gets
  // the one that did.
  bool take(int LineFaults::*counter, LineFaults** from = nullptr) const;
};

// Bytes waiting to go out, each chunk not before its time, in order.
class Outbox {
 public:
  using Clock = std::chrono::steady_clock;
  void add(std::vector<uint8_t> bytes, Clock::time_point due);
  // Writes what is due to `fd`; bytes the line does not take are dropped.
  void flush(int fd);
  // When the next chunk is due (nullopt: nothing waits).
  std::optional<Clock::time_point> nextDue() const;
  // When the last byte went out, or will go when some wait; nullopt while
  // nothing went since the start or the last clear().
  std::optional<Clock::time_point> lineEnd() const;
  void clear() {
    chunks_.clear();
    lastWritten_.reset();
  }

 private:
  struct Chunk {
    std::vector<uint8_t> bytes;
    Clock::time_point due;
  };
  std::deque<Chunk> chunks_;
  std::optional<Clock::time_point> lastWritten_;
};

// When a reply goes out: its first byte at `start`, each further byte
// `character` later (0: all at once, as a pseudo-terminal passes them), each
// part queued for when its last byte is through.
struct ReplyTiming {
  Outbox::Clock::time_point start;
  std::chrono::nanoseconds character{0};
};

// Applies the faults to one reply and queues what goes on the line.
// Returns a short note of what was done ("" when the reply went out whole).
std::string shapeReply(std::vector<uint8_t> reply, const FaultsInForce& faults, Outbox& out,
                       std::mt19937& random, const ReplyTiming& timing);

// Cuts the program's bytes into request frames, for routing them to the
// analyzer they are addressed to, for the line's timing, and for the check
// of the silent interval before each one.
class RequestFramer {
 public:
  using Clock = std::chrono::steady_clock;
  struct Frame {
    std::vector<uint8_t> bytes;
    Clock::time_point arrival;  // of its first byte
    bool tooSoon = false;       // less than kSilentInterval after the last reply
  };
  // Bytes read at `now`; `lineEnd` is when the last reply was through on the
  // line (nullopt: none yet). Whole frames are appended to `frames`. A frame
  // left unfinished for half a second is dropped, as a slave gives up on it.
  void add(const uint8_t* bytes, size_t n, Clock::time_point now,
           std::optional<Clock::time_point> lineEnd, std::vector<Frame>& frames);
  void clear() { pending_.clear(); }

 private:
  std::vector<uint8_t> pending_;
  Clock::time_point arrival_{};
  Clock::time_point last_{};
  bool tooSoon_ = false;
};

std::string hex(const uint8_t* bytes, size_t n);

}  // namespace sim
