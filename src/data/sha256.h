#pragma once
// SHA-256 through libsodium (crypto_hash_sha256), fed piece by piece. A copy
// carries the state so far: a digest of the first rows and one of all of
// them come from one pass.

#include <sodium.h>

#include <QByteArray>
#include <QByteArrayView>

// libsodium's one-time set-up; true when it can be used. Safe to call from
// any thread, any number of times.
bool sodiumReady();

class Sha256 {
 public:
  Sha256() { crypto_hash_sha256_init(&state_); }
  void add(QByteArrayView bytes) {
    crypto_hash_sha256_update(&state_, reinterpret_cast<const unsigned char*>(bytes.data()),
                              static_cast<unsigned long long>(bytes.size()));
  }
  // The digest of what was added (32 bytes); the state is used up.
  QByteArray result() {
    QByteArray out(crypto_hash_sha256_BYTES, Qt::Uninitialized);
    crypto_hash_sha256_final(&state_, reinterpret_cast<unsigned char*>(out.data()));
    return out;
  }
  static QByteArray of(QByteArrayView bytes) {
    Sha256 h;
    h.add(bytes);
    return h.result();
  }

 private:
  crypto_hash_sha256_state state_;
};
