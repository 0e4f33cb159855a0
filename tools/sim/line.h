#pragma once
// The simulator's serial side: pseudo-terminal pairs, a real serial device
// set to 9600 8N2, the framing of Modbus RTU replies, and the line faults
// that are applied to replies on their way to the program.

#include <chrono>
#include <cstdint>
#include <deque>
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

// Length of the Modbus RTU reply at the start of `bytes`: 0 while too few
// bytes are there to tell, -1 when the function code is not one a slave
// answers with (then the bytes are passed on as they are).
int replyFrameLength(const uint8_t* bytes, size_t n);

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

// Bytes waiting to go out, each chunk not before its time, in order.
class Outbox {
 public:
  using Clock = std::chrono::steady_clock;
  void add(std::vector<uint8_t> bytes, Clock::time_point due);
  // Writes what is due to `fd`; bytes the line does not take are dropped.
  void flush(int fd);
  // Milliseconds until the next chunk is due (-1: nothing waits).
  int millisecondsToNext() const;
  void clear() { chunks_.clear(); }

 private:
  struct Chunk {
    std::vector<uint8_t> bytes;
    Clock::time_point due;
  };
  std::deque<Chunk> chunks_;
};

// Applies the faults to one reply and queues what goes on the line.
// Returns a short note of what was done ("" when the reply went out whole).
std::string shapeReply(std::vector<uint8_t> reply, LineFaults& faults, Outbox& out,
                       std::mt19937& random);

std::string hex(const uint8_t* bytes, size_t n);

}  // namespace sim
