#include "crypto/cipher.h"

#include <openssl/evp.h>
#include <pthread.h>
#include <sodium.h>

#include <algorithm>
#include <atomic>
#include <climits>
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
// Nonces: a random prefix of 16 bytes drawn once per process, a 48-bit
// counter and two mark bytes. A nonce never repeats, and drawing one spares
// a system call per sealed value. A forked child draws a prefix of its own:
// the fork handlers below take the lock across the fork and mark the
// child's copy stale, which costs nothing per value (asking for the process
// id on every seal was one system call a row).
//
// The mark says which cipher sealed the value: values sealed now carry it
// and are AES-256-GCM; values sealed by earlier builds are XChaCha20-Poly1305
// (a 64-bit counter there, or a wholly random nonce in the first builds, so
// one of those may carry the mark bytes by chance: it is then opened as
// XChaCha20-Poly1305 when AES-GCM refuses it).
constexpr uint8_t kAesMark[2] = {0x4B, 0x38};
constexpr uint64_t kCounterLimit = uint64_t{1} << 48;

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
  if (!src.fresh || src.next + count > kCounterLimit) {
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
  for (int i = 0; i < 6; ++i) nonce[16 + i] = uint8_t(c >> (8 * i));
  nonce[22] = kAesMark[0];
  nonce[23] = kAesMark[1];
}

bool Marked(const uint8_t* nonce) { return nonce[22] == kAesMark[0] && nonce[23] == kAesMark[1]; }

// Both ciphers take a 12-byte nonce under a subkey made from the key and
// the nonce's first 16 bytes: four zero bytes and the nonce's last 8.
void InnerNonce(const uint8_t* nonce, uint8_t* out /*12*/) {
  std::memset(out, 0, 4);
  std::memcpy(out + 4, nonce + 16, 8);
}

[[noreturn]] void CipherFailed() {
  Fail(DBE_INTERNAL_ERROR, "Error 5004: The cryptographic library could not seal or open a value.");
}

// AES-256-GCM under a subkey per key and nonce prefix: keyed BLAKE2b of the
// prefix, personalised so that it is never the digest of anything else.
// Values sealed by one process share the prefix, so the subkey and its AES
// key schedule are made once per thread and kept in the thread's context.
// On a processor with AES and carry-less multiplication instructions the
// sodium library does the work (its fastest on rows of a few hundred
// bytes); elsewhere OpenSSL's portable code does, so that a table sealed on
// one machine opens on any other.
constexpr unsigned char kAesPersonal[16] = {'K', 'X', '8', ' ', 'A', 'E', 'S', '-', 'G', 'C', 'M', ' ', 'k', 'e', 'y', 0};

std::atomic<bool> g_portable_aes{false};

bool UseSodiumAes() {
  static const bool available = [] {
    EnsureInit();
    return crypto_aead_aes256gcm_is_available() == 1;
  }();
  return available && !g_portable_aes.load(std::memory_order_relaxed);
}

struct AesContext {
  crypto_aead_aes256gcm_state state;  // the sodium library's key schedule
  EVP_CIPHER_CTX* ctx = nullptr;      // OpenSSL's, on other processors
  Key key{};
  uint8_t prefix[16] = {};
  bool valid = false;
  bool sodium = false;
  ~AesContext() {
    EVP_CIPHER_CTX_free(ctx);
    sodium_memzero(&state, sizeof state);
    sodium_memzero(key.data(), key.size());
  }
};

thread_local AesContext t_seal_aes;
thread_local AesContext t_open_aes;

AesContext& AesFor(AesContext& c, const Key& key, const uint8_t* nonce, bool sealing) {
  const bool sodium = UseSodiumAes();
  // Plain comparisons: whether two keys of this process are equal is no
  // secret worth a constant-time compare on every value.
  if (c.valid && c.sodium == sodium && std::memcmp(c.prefix, nonce, 16) == 0 && c.key == key) return c;
  c.valid = false;
  Key sub;
  crypto_generichash_blake2b_salt_personal(sub.data(), sub.size(), nonce, 16, key.data(), key.size(), nullptr,
                                           kAesPersonal);
  int ok = 1;
  if (sodium) {
    crypto_aead_aes256gcm_beforenm(&c.state, sub.data());
  } else {
    if (c.ctx == nullptr) c.ctx = EVP_CIPHER_CTX_new();
    ok = c.ctx == nullptr ? 0
         : sealing       ? EVP_EncryptInit_ex(c.ctx, EVP_aes_256_gcm(), nullptr, sub.data(), nullptr)
                         : EVP_DecryptInit_ex(c.ctx, EVP_aes_256_gcm(), nullptr, sub.data(), nullptr);
  }
  sodium_memzero(sub.data(), sub.size());
  if (ok != 1) CipherFailed();
  c.key = key;
  std::memcpy(c.prefix, nonce, 16);
  c.sodium = sodium;
  c.valid = true;
  return c;
}

void RequireIntLength(size_t len) {
  if (len > size_t{INT_MAX}) Fail(DBE_INTERNAL_ERROR, "Error 5004: A value is too large to be sealed.");
}

// Seals with the nonce already in out[0, kNonceSize).
void SealWithNonce(const Key& key, const uint8_t* ad, size_t ad_len, const uint8_t* plain, size_t plain_len,
                   uint8_t* out) {
  RequireIntLength(plain_len);
  AesContext& aes = AesFor(t_seal_aes, key, out, true);
  uint8_t iv[12];
  InnerNonce(out, iv);
  uint8_t* c = out + kNonceSize;
  if (aes.sodium) {
    crypto_aead_aes256gcm_encrypt_detached_afternm(c, c + plain_len, nullptr, plain, plain_len, ad, ad_len, nullptr,
                                                   iv, &aes.state);
    return;
  }
  int n = 0, last = 0;
  if (EVP_EncryptInit_ex(aes.ctx, nullptr, nullptr, nullptr, iv) != 1 ||
      (ad_len > 0 && EVP_EncryptUpdate(aes.ctx, nullptr, &n, ad, static_cast<int>(ad_len)) != 1) ||
      EVP_EncryptUpdate(aes.ctx, c, &n, plain, static_cast<int>(plain_len)) != 1 ||
      EVP_EncryptFinal_ex(aes.ctx, c + n, &last) != 1 ||
      EVP_CIPHER_CTX_ctrl(aes.ctx, EVP_CTRL_AEAD_GET_TAG, kMacSize, c + plain_len) != 1) {
    CipherFailed();
  }
}

bool OpenAes(const Key& key, const uint8_t* ad, size_t ad_len, const uint8_t* sealed, size_t sealed_len,
             uint8_t* plain_out) {
  const size_t len = sealed_len - kOverhead;
  RequireIntLength(len);
  AesContext& aes = AesFor(t_open_aes, key, sealed, false);
  uint8_t iv[12];
  InnerNonce(sealed, iv);
  const uint8_t* c = sealed + kNonceSize;
  bool ok;
  if (aes.sodium) {
    ok = crypto_aead_aes256gcm_decrypt_detached_afternm(plain_out, nullptr, c, len, c + len, ad, ad_len, iv,
                                                        &aes.state) == 0;
  } else {
    uint8_t tag[kMacSize];
    std::memcpy(tag, c + len, kMacSize);
    int n = 0, last = 0;
    ok = EVP_DecryptInit_ex(aes.ctx, nullptr, nullptr, nullptr, iv) == 1 &&
         (ad_len == 0 || EVP_DecryptUpdate(aes.ctx, nullptr, &n, ad, static_cast<int>(ad_len)) == 1) &&
         EVP_DecryptUpdate(aes.ctx, plain_out, &n, c, static_cast<int>(len)) == 1 &&
         EVP_CIPHER_CTX_ctrl(aes.ctx, EVP_CTRL_AEAD_SET_TAG, kMacSize, tag) == 1 &&
         EVP_DecryptFinal_ex(aes.ctx, plain_out + n, &last) == 1;
  }
  // Nothing of a value that fails its check is handed on.
  if (!ok && len > 0) sodium_memzero(plain_out, len);
  return ok;
}

// XChaCha20-Poly1305, the cipher of earlier builds: the IETF
// ChaCha20-Poly1305 under a subkey made from the key and the nonce's first
// 16 bytes (HChaCha20). The subkey is kept per thread like AES-GCM's.
struct Subkey {
  Key key{};
  uint8_t prefix[16] = {};
  Key subkey{};
  bool valid = false;
  ~Subkey() {
    sodium_memzero(key.data(), key.size());
    sodium_memzero(subkey.data(), subkey.size());
  }
};

thread_local Subkey t_open_subkey;

bool OpenXChaCha(const Key& key, const uint8_t* ad, size_t ad_len, const uint8_t* sealed, size_t sealed_len,
                 uint8_t* plain_out) {
  Subkey& cache = t_open_subkey;
  if (!cache.valid || std::memcmp(cache.prefix, sealed, 16) != 0 || cache.key != key) {
    crypto_core_hchacha20(cache.subkey.data(), sealed, key.data(), nullptr);
    cache.key = key;
    std::memcpy(cache.prefix, sealed, 16);
    cache.valid = true;
  }
  uint8_t inner[12];
  InnerNonce(sealed, inner);
  unsigned long long plen = 0;
  return crypto_aead_chacha20poly1305_ietf_decrypt(plain_out, &plen, nullptr, sealed + kNonceSize,
                                                   sealed_len - kNonceSize, ad, ad_len, inner,
                                                   cache.subkey.data()) == 0;
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

void UsePortableAes(bool portable) { g_portable_aes.store(portable); }

void Seal(const Key& key, const uint8_t* ad, size_t ad_len, const uint8_t* plain, size_t plain_len,
          uint8_t* out) {
  PutCounter(out, ReserveNonces(out, 1));
  SealWithNonce(key, ad, ad_len, plain, plain_len, out);
}

bool Open(const Key& key, const uint8_t* ad, size_t ad_len, const uint8_t* sealed, size_t sealed_len,
          uint8_t* plain_out) {
  if (sealed_len < kOverhead) return false;
  if (Marked(sealed) && OpenAes(key, ad, ad_len, sealed, sealed_len, plain_out)) return true;
  return OpenXChaCha(key, ad, ad_len, sealed, sealed_len, plain_out);
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
