#include "crypto/cipher.h"

#include <pthread.h>
#include <sodium.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

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
// Nonces: a random prefix of 16 bytes drawn once per process and a counter
// in the last 8. With 192-bit nonces this never repeats, and it spares a
// system call per sealed value. A forked child draws a prefix of its own:
// the fork handlers below take the lock across the fork and mark the
// child's copy stale, which costs nothing per value (asking for the process
// id on every seal was one system call a row).
struct NonceSource {
  std::mutex mu;
  uint8_t prefix[16];
  uint64_t next = 0;
  bool fresh = false;  // false: prefix not drawn yet in this process
};

NonceSource& Nonces() {
  static NonceSource* src = [] {
    EnsureInit();
    auto* s = new NonceSource();
    ::pthread_atfork([] { Nonces().mu.lock(); }, [] { Nonces().mu.unlock(); },
                     [] {
                       NonceSource& n = Nonces();
                       n.fresh = false;
                       n.mu.unlock();
                     });
    return s;
  }();
  return *src;
}

// Takes `count` consecutive nonces: their common prefix goes to prefix,
// the first counter is returned.
uint64_t ReserveNonces(uint8_t* prefix, uint64_t count) {
  NonceSource& src = Nonces();
  std::lock_guard<std::mutex> lock(src.mu);
  if (!src.fresh) {
    randombytes_buf(src.prefix, sizeof src.prefix);
    src.next = 1;
    src.fresh = true;
  }
  std::memcpy(prefix, src.prefix, sizeof src.prefix);
  const uint64_t first = src.next;
  src.next += count;
  return first;
}

void PutCounter(uint8_t* nonce, uint64_t c) {
  for (int i = 0; i < 8; ++i) nonce[16 + i] = uint8_t(c >> (8 * i));
}

// XChaCha20-Poly1305 is the IETF ChaCha20-Poly1305 under a subkey made
// from the key and the nonce's first 16 bytes (HChaCha20), with four zero
// bytes and the nonce's last 8 as its 12-byte nonce. Values sealed by one
// process share the first 16 bytes, so the subkey is kept per thread and
// made again only when the key or that prefix changes: the derivation was a
// fifth of the cost of sealing a row.
struct Subkey {
  Key key{};
  uint8_t prefix[16] = {};
  Key subkey{};
  bool valid = false;
};

const Key& SubkeyFor(Subkey& cache, const Key& key, const uint8_t* nonce) {
  // Plain comparisons: whether two keys of this process are equal is no
  // secret worth a constant-time compare on every value.
  if (!cache.valid || std::memcmp(cache.prefix, nonce, 16) != 0 || cache.key != key) {
    crypto_core_hchacha20(cache.subkey.data(), nonce, key.data(), nullptr);
    cache.key = key;
    std::memcpy(cache.prefix, nonce, 16);
    cache.valid = true;
  }
  return cache.subkey;
}

thread_local Subkey t_seal_subkey;
thread_local Subkey t_open_subkey;

void InnerNonce(const uint8_t* nonce, uint8_t* out /*12*/) {
  std::memset(out, 0, 4);
  std::memcpy(out + 4, nonce + 16, 8);
}

// Seals with the nonce already in out[0, kNonceSize).
void SealWithNonce(const Key& key, const uint8_t* ad, size_t ad_len, const uint8_t* plain, size_t plain_len,
                   uint8_t* out) {
  const Key& sub = SubkeyFor(t_seal_subkey, key, out);
  uint8_t inner[12];
  InnerNonce(out, inner);
  unsigned long long clen = 0;
  crypto_aead_chacha20poly1305_ietf_encrypt(out + kNonceSize, &clen, plain, plain_len, ad, ad_len, nullptr, inner,
                                            sub.data());
}

// Runs work(begin, end) over [0, count), split among the processor's cores
// when there is enough of it to repay starting a thread.
template <typename Work>
void Share(size_t count, size_t bytes_each, const Work& work) {
  constexpr size_t kMinBytesPerPart = 256 * 1024;
  static const size_t cores = std::clamp<size_t>(std::thread::hardware_concurrency(), 1, 4);
  size_t parts = std::min(cores, count * bytes_each / kMinBytesPerPart);
  if (parts <= 1) return work(size_t{0}, count);
  std::vector<std::thread> helpers;
  const size_t each = (count + parts - 1) / parts;
  try {
    for (size_t p = 1; p < parts; ++p) {
      const size_t begin = p * each, end = std::min(count, begin + each);
      if (begin < end) helpers.emplace_back([&work, begin, end] { work(begin, end); });
    }
  } catch (const std::system_error&) {
    // No thread to be had: this one does the rest itself, only slower.
    for (size_t p = helpers.size() + 1; p < parts; ++p) {
      const size_t begin = p * each, end = std::min(count, begin + each);
      if (begin < end) work(begin, end);
    }
  }
  work(size_t{0}, std::min(count, each));
  for (std::thread& t : helpers) t.join();
}
}  // namespace

void Seal(const Key& key, const uint8_t* ad, size_t ad_len, const uint8_t* plain, size_t plain_len,
          uint8_t* out) {
  PutCounter(out, ReserveNonces(out, 1));
  SealWithNonce(key, ad, ad_len, plain, plain_len, out);
}

bool Open(const Key& key, const uint8_t* ad, size_t ad_len, const uint8_t* sealed, size_t sealed_len,
          uint8_t* plain_out) {
  if (sealed_len < kOverhead) return false;
  const Key& sub = SubkeyFor(t_open_subkey, key, sealed);
  uint8_t inner[12];
  InnerNonce(sealed, inner);
  unsigned long long plen = 0;
  return crypto_aead_chacha20poly1305_ietf_decrypt(plain_out, &plen, nullptr, sealed + kNonceSize,
                                                   sealed_len - kNonceSize, ad, ad_len, inner, sub.data()) == 0;
}

void SealMany(const Key& key, const uint8_t* ad, size_t ad_len, const uint8_t* plain, size_t plain_stride,
              size_t plain_len, size_t count, uint8_t* out, size_t out_stride) {
  if (count == 0) return;
  uint8_t prefix[16];
  const uint64_t first = ReserveNonces(prefix, count);
  Share(count, plain_len, [&](size_t begin, size_t end) {
    for (size_t i = begin; i < end; ++i) {
      uint8_t* o = out + i * out_stride;
      std::memcpy(o, prefix, sizeof prefix);
      PutCounter(o, first + i);
      SealWithNonce(key, ad, ad_len, plain + i * plain_stride, plain_len, o);
    }
  });
}

size_t OpenMany(const Key& key, const uint8_t* ad, size_t ad_len, const uint8_t* sealed, size_t sealed_stride,
                size_t sealed_len, size_t count, uint8_t* plain_out, size_t plain_stride) {
  std::atomic<size_t> first_failed{count};
  Share(count, sealed_len, [&](size_t begin, size_t end) {
    for (size_t i = begin; i < end; ++i) {
      if (!Open(key, ad, ad_len, sealed + i * sealed_stride, sealed_len, plain_out + i * plain_stride)) {
        size_t seen = first_failed.load();
        while (i < seen && !first_failed.compare_exchange_weak(seen, i)) {
        }
        return;
      }
    }
  });
  return first_failed.load();
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
