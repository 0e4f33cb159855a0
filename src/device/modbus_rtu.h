#pragma once
// Modbus RTU framing as the analyzer link uses it: the CRC-16, the two request
// frames (function 4 read of registers 0..13, function 6 write of register 0)
// and the collector of the reply bytes that arrive between two poll ticks.

#include <array>
#include <cstdint>

// The published Modbus tables: kCrcLowTable is the one the Modbus serial line
// guide calls auchCRCHi, kCrcHighTable its auchCRCLo.
extern const uint8_t kCrcLowTable[256];
extern const uint8_t kCrcHighTable[256];

// CRC-16/MODBUS of `count` bytes; the low byte is the one sent first. A count
// of 0 or less gives 0xFFFF.
uint16_t modbusCrc(const uint8_t* data, int32_t count);

// The requests the program sends; the value of a command is what is written
// to register 0.
enum class Request : uint8_t {
  Status = 0,           // read input registers 0..13
  StartSingle = 1,
  StartContinuous = 2,
  Stop = 3,
};

using RequestFrame = std::array<uint8_t, 8>;
RequestFrame buildRequest(uint8_t address, Request kind);

// Where the current exchange stands; kept in the device settings file.
enum class LinkState : uint8_t {
  Sending = 1,
  Sent = 2,
  Receiving = 3,
  Accepted = 4,
  ByteLost = 5,  // a byte arrived with no room left for it
};

// The bytes received since the last tick.
class ReplyCollector {
 public:
  static constexpr int kCapacity = 100;

  // Stores what fits; false when bytes had to be dropped.
  bool append(const uint8_t* data, int count);
  // The acceptance test: at least 7 bytes whose last two hold the CRC of the
  // others, low byte first.
  bool accepted() const;
  // An accepted reply as long as its header says a whole one is: a status
  // reply's byte count, a command's echo. Nothing more is to come for it.
  bool complete() const;
  // Empties the collector for the next exchange. The bytes are zeroed too, so
  // a short reply is never read together with the rest of an older one.
  void clear();

  int length() const { return length_; }
  const uint8_t* bytes() const { return buffer_; }
  // Byte `i` of the buffer; 0 beyond what arrived.
  uint8_t operator[](int i) const { return i >= 0 && i < kCapacity ? buffer_[i] : 0; }

 private:
  uint8_t buffer_[kCapacity] = {};
  int length_ = 0;
};

// True for a whole status reply: 33 bytes, function 4, byte count 28.
bool isWholeStatusReply(const ReplyCollector& reply);
