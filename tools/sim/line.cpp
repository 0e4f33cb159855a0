#include "sim/line.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace sim {

bool setLine9600N82(int fd) {
  termios tio{};
  if (tcgetattr(fd, &tio) != 0) return false;
  cfmakeraw(&tio);
  cfsetispeed(&tio, B9600);
  cfsetospeed(&tio, B9600);
  tio.c_cflag &= ~(CSIZE | PARENB | CRTSCTS);
  tio.c_cflag |= CS8 | CSTOPB | CLOCAL | CREAD;
  tio.c_iflag &= ~(IXON | IXOFF | IXANY);
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  return tcsetattr(fd, TCSANOW, &tio) == 0;
}

bool openPty(Pty& pty, std::string* error) {
  const auto fail = [&](const char* what) {
    if (error) *error = std::string(what) + ": " + std::strerror(errno);
    closePty(pty);
    return false;
  };
  pty.master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (pty.master < 0) return fail("posix_openpt");
  if (grantpt(pty.master) != 0) return fail("grantpt");
  if (unlockpt(pty.master) != 0) return fail("unlockpt");
  const char* name = ptsname(pty.master);
  if (!name) return fail("ptsname");
  pty.path = name;
  pty.slave = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (pty.slave < 0) return fail("open pty slave");
  // Raw from the start: a terminal in its cooked default would echo the
  // replies back as if they were requests.
  if (!setLine9600N82(pty.slave)) return fail("tcsetattr");
  return true;
}

void closePty(Pty& pty) {
  if (pty.slave >= 0) close(pty.slave);
  if (pty.master >= 0) close(pty.master);
  pty.slave = pty.master = -1;
}

int openSerialDevice(const std::string& path, std::string* error) {
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    if (error) *error = path + ": " + std::strerror(errno);
    return -1;
  }
  if (!setLine9600N82(fd)) {
    if (error) *error = path + ": not a serial line (" + std::strerror(errno) + ")";
    close(fd);
    return -1;
  }
  tcflush(fd, TCIOFLUSH);
  return fd;
}

int replyFrameLength(const uint8_t* b, size_t n) {
  if (n < 2) return 0;
  const uint8_t function = b[1];
  if (function & 0x80) return 5;  // exception
  switch (function) {
    case 1:
    case 2:
    case 3:
    case 4:
      if (n < 3) return 0;
      return 5 + b[2];
    case 5:
    case 6:
    case 15:
    case 16:
      return 8;
    default:
      return -1;
  }
}

int requestFrameLength(const uint8_t* b, size_t n) {
  if (n < 2) return 0;
  switch (b[1]) {
    case 1:
    case 2:
    case 3:
    case 4:
    case 5:
    case 6:
      return 8;
    case 15:
    case 16:
      if (n < 7) return 0;
      return 9 + b[6];
    default:
      return -1;
  }
}

bool takeFault(int& counter) {
  if (counter == 0) return false;
  if (counter > 0) --counter;
  return true;
}

bool FaultsInForce::take(int LineFaults::*counter, LineFaults** from) const {
  for (LineFaults* f : {line, own}) {
    if (f && takeFault(f->*counter)) {
      if (from) *from = f;
      return true;
    }
  }
  return false;
}

void Outbox::add(std::vector<uint8_t> bytes, Clock::time_point due) {
  if (bytes.empty()) return;
  // Never ahead of a chunk queued earlier: the line keeps the order.
  if (!chunks_.empty()) due = std::max(due, chunks_.back().due);
  chunks_.push_back({std::move(bytes), due});
}

void Outbox::flush(int fd) {
  const auto now = Clock::now();
  while (!chunks_.empty() && chunks_.front().due <= now) {
    const auto& c = chunks_.front();
    if (fd >= 0) {
      const ssize_t n = write(fd, c.bytes.data(), c.bytes.size());
      if (n < 0 && errno != EAGAIN) {
        // The line is gone; the caller notices on its next read.
      }
    }
    // Stamped before the write, so never later than the program can have the
    // bytes: a request it sends 10 ms after them is never counted as too soon.
    lastWritten_ = now;
    chunks_.pop_front();
  }
}

std::optional<Outbox::Clock::time_point> Outbox::nextDue() const {
  if (chunks_.empty()) return std::nullopt;
  return chunks_.front().due;
}

std::optional<Outbox::Clock::time_point> Outbox::lineEnd() const {
  if (!chunks_.empty()) return std::max(chunks_.back().due, lastWritten_.value_or(chunks_.back().due));
  return lastWritten_;
}

std::string shapeReply(std::vector<uint8_t> reply, const FaultsInForce& faults, Outbox& out,
                       std::mt19937& random, const ReplyTiming& timing) {
  // Where the line has got to: each part is due when its last byte is through.
  auto at = timing.start;
  const auto send = [&](std::vector<uint8_t> bytes) {
    at += timing.character * long(bytes.size());
    out.add(std::move(bytes), at);
  };
  std::string note;
  LineFaults* from = nullptr;
  if (faults.take(&LineFaults::badCrc) && !reply.empty()) {
    reply.back() ^= 0x5A;
    note += " bad-crc";
  }
  if (faults.take(&LineFaults::cut)) {
    reply.resize(reply.size() / 2);
    note += " cut";
  }
  if (faults.take(&LineFaults::split, &from) && reply.size() >= 2) {
    const size_t half = reply.size() / 2;
    send(std::vector<uint8_t>(reply.begin(), reply.begin() + half));
    at += std::chrono::milliseconds(from->splitMs);
    send(std::vector<uint8_t>(reply.begin() + half, reply.end()));
    note += " split " + std::to_string(from->splitMs) + " ms";
  } else {
    send(reply);
  }
  if (faults.take(&LineFaults::garbage, &from)) {
    std::vector<uint8_t> junk(size_t(std::max(1, from->garbageBytes)));
    for (auto& b : junk) b = uint8_t(random());
    send(junk);
    note += " garbage " + std::to_string(junk.size()) + " bytes";
  }
  return note;
}

void RequestFramer::add(const uint8_t* bytes, size_t n, Clock::time_point now,
                        std::optional<Clock::time_point> lineEnd, std::vector<Frame>& frames) {
  if (n == 0) return;
  if (!pending_.empty() && now - last_ > std::chrono::milliseconds(500)) pending_.clear();
  last_ = now;
  for (size_t i = 0; i < n;) {
    if (pending_.empty()) {
      arrival_ = now;
      tooSoon_ = lineEnd && now < *lineEnd + kSilentInterval;
    }
    // Byte by byte up to the frame's length, once it is known.
    pending_.push_back(bytes[i++]);
    const int length = requestFrameLength(pending_.data(), pending_.size());
    if (length < 0) {
      pending_.insert(pending_.end(), bytes + i, bytes + n);
      i = n;
    } else if (length == 0 || pending_.size() < size_t(length)) {
      continue;
    }
    frames.push_back({std::move(pending_), arrival_, tooSoon_});
    pending_.clear();
  }
}

std::string hex(const uint8_t* bytes, size_t n) {
  std::string s;
  char part[4];
  for (size_t i = 0; i < n; ++i) {
    std::snprintf(part, sizeof part, i ? " %02X" : "%02X", bytes[i]);
    s += part;
  }
  return s;
}

}  // namespace sim
