#include "support/analyzer_replies.h"

#include "device/modbus_rtu.h"

Frame withCrc(Frame body) {
  const uint16_t crc = modbusCrc(body.data(), int32_t(body.size()));
  body.push_back(uint8_t(crc & 0xFF));
  body.push_back(uint8_t(crc >> 8));
  return body;
}

Frame statusReply(uint8_t address, const StatusRegisters& r) {
  Frame f{address, 0x04, 28};
  const auto word = [&f](uint16_t w) {
    f.push_back(uint8_t(w >> 8));
    f.push_back(uint8_t(w & 0xFF));
  };
  word(r.state);
  word(r.faults);
  word(uint16_t(r.tg));
  word(uint16_t(r.ta));
  word(r.o2);
  word(r.reg5);
  word(r.co);
  word(r.no);
  word(r.no2);
  word(r.so2);
  word(r.h2s);
  f.push_back(r.serviceMonth);
  f.push_back(r.serviceDay);
  word(r.serviceYear);
  word(r.runningHours);
  return withCrc(f);
}

Frame statusReply(uint8_t address, uint8_t state, uint16_t faults) {
  StatusRegisters r;
  r.state = state;
  r.faults = faults;
  return statusReply(address, r);
}

Frame commandEcho(uint8_t address, uint8_t value) {
  return withCrc({address, 0x06, 0x00, 0x00, 0x00, value});
}

StatusRegisters distinctRegisters() {
  StatusRegisters r;
  r.state = 0;
  r.faults = 0x0805;
  r.tg = -200;
  r.ta = 21;
  r.o2 = 350;
  r.reg5 = 0x1234;
  r.co = 50;
  r.no = 40;
  r.no2 = 5;
  r.so2 = 0x8001;
  r.h2s = 3;
  r.serviceMonth = 11;
  r.serviceDay = 25;
  r.serviceYear = 2026;
  r.runningHours = 4321;
  return r;
}
