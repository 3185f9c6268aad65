#include "crypto/cipher.h"

#include <sodium.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <mutex>

#include "core/error.h"
#include "dbe/dbe.h"

namespace dbe::crypto {
namespace {

// Interactive-strength Argon2id: one derivation costs tens of milliseconds and
// 32 MiB, and happens once per password and salt in a process.
constexpr uint64_t kOps = 2;
constexpr uint64_t kMem = 32ull * 1024 * 1024;

struct Cache {
  std::mutex mu;
  std::map<std::pair<std::string, std::string>, std::shared_ptr<const Key>> keys;
  std::map<std::string, std::array<uint8_t, kSaltSize>> last_salt;
};

Cache& TheCache() {
  static Cache* c = new Cache();
  return *c;
}

void EnsureInit() {
  static const bool ok = sodium_init() >= 0;
  if (!ok) Fail(DBE_INTERNAL_ERROR, "Error 5004: The cryptographic library could not start.");
}

}  // namespace

void RandomBytes(uint8_t* out, size_t len) {
  EnsureInit();
  randombytes_buf(out, len);
}

bool ValidParams(const KdfParams& p) {
  return p.ops >= crypto_pwhash_OPSLIMIT_MIN && p.ops <= 16 && p.mem >= crypto_pwhash_MEMLIMIT_MIN &&
         p.mem <= (1ull << 30);
}

KdfParams NewParams(const std::string& password) {
  EnsureInit();
  KdfParams p;
  p.ops = kOps;
  p.mem = kMem;
  Cache& c = TheCache();
  std::lock_guard<std::mutex> lock(c.mu);
  auto it = c.last_salt.find(password);
  if (it != c.last_salt.end()) {
    p.salt = it->second;
  } else {
    randombytes_buf(p.salt.data(), p.salt.size());
  }
  return p;
}

std::shared_ptr<const Key> DeriveKey(const std::string& password, const KdfParams& params) {
  EnsureInit();
  std::string salt(reinterpret_cast<const char*>(params.salt.data()), params.salt.size());
  salt += std::to_string(params.ops) + "/" + std::to_string(params.mem);
  Cache& c = TheCache();
  {
    std::lock_guard<std::mutex> lock(c.mu);
    auto it = c.keys.find({password, salt});
    if (it != c.keys.end()) return it->second;
  }
  auto key = std::make_shared<Key>();
  if (crypto_pwhash(key->data(), key->size(), password.data(), password.size(), params.salt.data(),
                    params.ops, static_cast<size_t>(params.mem), crypto_pwhash_ALG_ARGON2ID13) != 0) {
    Fail(DBE_INTERNAL_ERROR, "Error 5004: The table key could not be derived (out of memory).");
  }
  std::lock_guard<std::mutex> lock(c.mu);
  c.keys[{password, salt}] = key;
  c.last_salt[password] = params.salt;
  return key;
}

namespace {
// Nonces: a random prefix drawn once per process and a counter. With 192-bit
// nonces this never repeats, and it spares a system call per sealed row.
// A forked child draws a prefix of its own.
struct NonceSource {
  std::mutex mu;
  uint8_t prefix[16];
  uint64_t counter = 0;
  pid_t pid = 0;
};
void NextNonce(uint8_t* out) {
  static NonceSource* src = [] {
    EnsureInit();
    return new NonceSource();
  }();
  std::lock_guard<std::mutex> lock(src->mu);
  if (src->pid != ::getpid()) {
    randombytes_buf(src->prefix, sizeof src->prefix);
    src->counter = 0;
    src->pid = ::getpid();
  }
  std::memcpy(out, src->prefix, 16);
  uint64_t c = ++src->counter;
  for (int i = 0; i < 8; ++i) out[16 + i] = uint8_t(c >> (8 * i));
}
}  // namespace

void Seal(const Key& key, const uint8_t* ad, size_t ad_len, const uint8_t* plain, size_t plain_len,
          uint8_t* out) {
  NextNonce(out);
  unsigned long long clen = 0;
  crypto_aead_xchacha20poly1305_ietf_encrypt(out + kNonceSize, &clen, plain, plain_len, ad, ad_len,
                                             nullptr, out, key.data());
}

bool Open(const Key& key, const uint8_t* ad, size_t ad_len, const uint8_t* sealed, size_t sealed_len,
          uint8_t* plain_out) {
  if (sealed_len < kOverhead) return false;
  unsigned long long plen = 0;
  return crypto_aead_xchacha20poly1305_ietf_decrypt(plain_out, &plen, nullptr, sealed + kNonceSize,
                                                    sealed_len - kNonceSize, ad, ad_len, sealed,
                                                    key.data()) == 0;
}

void MakeCheck(const Key& key, const uint8_t* ad, size_t ad_len, uint8_t* out) {
  uint8_t zeros[kCheckPlainSize] = {};
  Seal(key, ad, ad_len, zeros, sizeof zeros, out);
}

bool VerifyCheck(const Key& key, const uint8_t* ad, size_t ad_len, const uint8_t* check) {
  uint8_t plain[kCheckPlainSize];
  return Open(key, ad, ad_len, check, kCheckSealedSize, plain);
}

uint64_t Digest64(const uint8_t* data, size_t len) {
  EnsureInit();
  uint8_t out[8];
  crypto_generichash(out, sizeof out, data, len, nullptr, 0);
  uint64_t v;
  std::memcpy(&v, out, 8);
  return v;
}

}  // namespace dbe::crypto
