#pragma once
// Frames as the analyzer sends them, for scripted exchanges.

#include <array>
#include <cstdint>
#include <vector>

using Frame = std::vector<uint8_t>;

// Appends the CRC (low byte first) to `body`.
Frame withCrc(Frame body);

// The 14 input registers of a status reply.
struct StatusRegisters {
  uint16_t state = 0;       // register 0 (low byte: the operating state)
  uint16_t faults = 0;      // register 1
  int16_t tg = 180;         // register 2, deg C
  int16_t ta = 20;          // register 3, deg C
  uint16_t o2 = 350;        // register 4, hundredths of a per cent
  uint16_t reg5 = 0;
  uint16_t co = 50;         // register 6, ppm
  uint16_t no = 40;
  uint16_t no2 = 5;
  uint16_t so2 = 0;
  uint16_t h2s = 0;
  uint8_t serviceMonth = 11; // register 11 high byte
  uint8_t serviceDay = 25;   // register 11 low byte
  uint16_t serviceYear = 2026;
  uint16_t runningHours = 1234;
};

// Every register fixed and different, so that any byte out of place shows.
StatusRegisters distinctRegisters();

// A whole 33-byte status reply (function 4, byte count 28).
Frame statusReply(uint8_t address, const StatusRegisters& regs);
Frame statusReply(uint8_t address, uint8_t state, uint16_t faults = 0);
// The echo of a write of `value` to register 0 (function 6).
Frame commandEcho(uint8_t address, uint8_t value);
