#pragma once
// The hashes of the audit trail through libsodium, fed piece by piece:
// SHA-256 (crypto_hash_sha256) for the chain of entries, BLAKE2b-256
// (crypto_generichash) for the sealed days, four times faster than SHA-256
// in software where a year of results is checked.

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

class Blake2b256 {
 public:
  Blake2b256() { crypto_generichash_init(&state_, nullptr, 0, kBytes); }
  void add(QByteArrayView bytes) {
    crypto_generichash_update(&state_, reinterpret_cast<const unsigned char*>(bytes.data()),
                              static_cast<unsigned long long>(bytes.size()));
  }
  // The digest of what was added (32 bytes); the state is used up.
  QByteArray result() {
    QByteArray out(kBytes, Qt::Uninitialized);
    crypto_generichash_final(&state_, reinterpret_cast<unsigned char*>(out.data()), kBytes);
    return out;
  }
  static QByteArray of(QByteArrayView bytes) {
    Blake2b256 h;
    h.add(bytes);
    return h.result();
  }

 private:
  static constexpr size_t kBytes = 32;
  crypto_generichash_state state_;
};
