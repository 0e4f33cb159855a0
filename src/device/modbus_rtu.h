#pragma once
// Modbus RTU framing as the analyzer link uses it: the CRC-16, the two request
// frames (function 4 read of registers 0..13, function 6 write of register 0),
// and the reply collector that the receive handler fills between two ticks of
// the poll cycle.

#include <array>
#include <cstdint>

class TIOPort;

// The published Modbus tables: CrcLowTable is the one the Modbus serial line
// guide calls auchCRCHi, CrcHighTable its auchCRCLo.
extern const uint8_t CrcLowTable[256];
extern const uint8_t CrcHighTable[256];

// CRC-16/MODBUS of `count` bytes; the low byte is the one sent first.
// A count of 0 or less gives 0xFFFF.
uint16_t ModbusCrc(const uint8_t* data, int32_t count);

// Request kinds (RequestKind): 0 status poll, 1 start single, 2 start
// continuous, 3 stop.
inline constexpr uint8_t kRequestStatus = 0;
inline constexpr uint8_t kRequestSingle = 1;
inline constexpr uint8_t kRequestContinuous = 2;
inline constexpr uint8_t kRequestStop = 3;

using RequestFrame = std::array<uint8_t, 8>;
// The 8-byte frame of `kind` (0..3) for `address`.
RequestFrame BuildRequest(uint8_t address, uint8_t kind);

// LinkState values.
inline constexpr uint8_t kLinkSending = 1;
inline constexpr uint8_t kLinkSent = 2;
inline constexpr uint8_t kLinkReceiving = 3;
inline constexpr uint8_t kLinkAccepted = 4;
inline constexpr uint8_t kLinkByteLost = 5;

// Builds the frame of `kind` for `address` and hands it to `port` (which may be
// null or closed: then nothing is written). A kind above 3 sends nothing and
// leaves `linkState` alone; otherwise `linkState` becomes 2.
void SendRequest(TIOPort* port, uint8_t address, uint8_t kind, uint8_t& linkState);

inline constexpr int kReplyCapacity = 100;

// The bytes received since the last tick. Only the length is reset between
// exchanges, so the tail of the buffer may hold bytes of older replies.
struct ReplyCollector {
  uint8_t ReplyBuffer[kReplyCapacity + 1] = {};
  int32_t ReplyLength = 0;

  // One received byte: stored while there is room and no line error
  // (linkState 3), otherwise dropped (linkState 5).
  void Recieve(uint8_t value, bool lineError, uint8_t& linkState);

  // The acceptance test: at least 7 bytes whose last two hold the CRC of the
  // others, low byte first.
  bool Accepted() const;

  // Empties the buffer for the next exchange. The stale bytes are cleared too,
  // so a short reply is never read together with the rest of an older one.
  void Clear();
};

// True for a whole status reply: 33 bytes, function 4, byte count 28.
bool IsWholeStatusReply(const ReplyCollector& reply);
