// Table encryption: a password-derived key (Argon2id, memory-hard, cached per
// process) and authenticated encryption of rows and memo values: AES-256-GCM
// under a subkey per nonce prefix (values sealed by earlier builds, in
// XChaCha20-Poly1305, still open). The table id is bound into every sealed
// value as associated data.
#ifndef KX8_ENGINE_CRYPTO_CIPHER_H_
#define KX8_ENGINE_CRYPTO_CIPHER_H_

#include <array>
#include <cstdint>
#include <memory>
#include <string>

namespace dbe::crypto {

constexpr size_t kSaltSize = 16;
constexpr size_t kKeySize = 32;
constexpr size_t kNonceSize = 24;
constexpr size_t kMacSize = 16;
constexpr size_t kOverhead = kNonceSize + kMacSize;  // sealed size = plain size + overhead
constexpr size_t kCheckPlainSize = 16;
constexpr size_t kCheckSealedSize = kCheckPlainSize + kOverhead;

struct KdfParams {
  std::array<uint8_t, kSaltSize> salt{};
  uint64_t ops = 0;
  uint64_t mem = 0;
  bool operator==(const KdfParams&) const = default;
};

using Key = std::array<uint8_t, kKeySize>;

// Parameters for a table encrypted now with this password: the salt of a
// key this process already derived for the password is reused, so that a
// company's tables share one derivation.
KdfParams NewParams(const std::string& password);
// Derives (or takes from the cache) the key for password and params.
std::shared_ptr<const Key> DeriveKey(const std::string& password, const KdfParams& params);
bool ValidParams(const KdfParams& params);

// out receives nonce + ciphertext + MAC (plain_len + kOverhead bytes).
// Fails with Error 5004 only when the cryptographic library itself fails.
void Seal(const Key& key, const uint8_t* ad, size_t ad_len, const uint8_t* plain, size_t plain_len,
          uint8_t* out);
// Returns false when the value was not sealed with this key or was changed.
bool Open(const Key& key, const uint8_t* ad, size_t ad_len, const uint8_t* sealed, size_t sealed_len,
          uint8_t* plain_out);

// The same for `count` values of one size at once (the rows of a whole
// table), shared among the processor's cores: value i is read at
// i * stride and written at i * stride of the other side.
void SealMany(const Key& key, const uint8_t* ad, size_t ad_len, const uint8_t* plain, size_t plain_stride,
              size_t plain_len, size_t count, uint8_t* out, size_t out_stride);
// Returns the index of the first value that fails to open, or count when
// all opened.
size_t OpenMany(const Key& key, const uint8_t* ad, size_t ad_len, const uint8_t* sealed, size_t sealed_stride,
                size_t sealed_len, size_t count, uint8_t* plain_out, size_t plain_stride);

// The password check stored in a table header.
void MakeCheck(const Key& key, const uint8_t* ad, size_t ad_len, uint8_t* out /*kCheckSealedSize*/);
bool VerifyCheck(const Key& key, const uint8_t* ad, size_t ad_len, const uint8_t* check);

// Seals and opens AES-256-GCM values with the portable code that serves
// processors without AES instructions, even on one that has them (tests).
void UsePortableAes(bool portable);

void RandomBytes(uint8_t* out, size_t len);
// A short keyed-free digest (BLAKE2b) for header and snapshot checksums.
uint64_t Digest64(const uint8_t* data, size_t len);

}  // namespace dbe::crypto

#endif  // KX8_ENGINE_CRYPTO_CIPHER_H_
