// Sealed values: every one is a standard AES-256-GCM box under a subkey made
// from the key and its nonce's prefix, whether sealed alone or in a batch
// shared among threads, by the sodium library or by the portable code, and
// in a forked child as in its parent; values of earlier builds
// (XChaCha20-Poly1305) still open.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <sodium.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "crypto/cipher.h"

namespace kx8test {
namespace {

using dbe::crypto::kNonceSize;
using dbe::crypto::kOverhead;
using dbe::crypto::Key;

const uint8_t kAd[16] = {'t', 'a', 'b', 'l', 'e', '-', 'i', 'd', 1, 2, 3, 4, 5, 6, 7, 8};

Key TestKey(uint8_t seed) {
  Key k;
  for (size_t i = 0; i < k.size(); ++i) k[i] = uint8_t(seed + 7 * i);
  return k;
}

std::vector<uint8_t> Plain(size_t n, uint8_t seed) {
  std::vector<uint8_t> p(n);
  for (size_t i = 0; i < n; ++i) p[i] = uint8_t(seed ^ (i * 31));
  return p;
}

// The reference, written from the format's description with OpenSSL's
// one-shot calls: the subkey is BLAKE2b of the nonce's first 16 bytes keyed
// with the key (personal "KX8 AES-GCM key"), the GCM nonce four zero bytes
// and the nonce's last 8, the tag after the ciphertext.
bool ReferenceOpen(const Key& key, const std::vector<uint8_t>& sealed, std::vector<uint8_t>* plain) {
  const unsigned char personal[16] = {'K', 'X', '8', ' ', 'A', 'E', 'S', '-', 'G', 'C', 'M', ' ', 'k', 'e', 'y', 0};
  Key sub;
  crypto_generichash_blake2b_salt_personal(sub.data(), sub.size(), sealed.data(), 16, key.data(), key.size(), nullptr,
                                           personal);
  uint8_t iv[12] = {};
  std::memcpy(iv + 4, sealed.data() + 16, 8);
  const size_t len = sealed.size() - kOverhead;
  plain->assign(len + 1, 0);
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  int n = 0;
  std::vector<uint8_t> tag(sealed.end() - 16, sealed.end());
  bool ok = EVP_DecryptInit_ex(ctx, EVP_aes_256_gcm(), nullptr, sub.data(), iv) == 1 &&
            EVP_DecryptUpdate(ctx, nullptr, &n, kAd, sizeof kAd) == 1 &&
            EVP_DecryptUpdate(ctx, plain->data(), &n, sealed.data() + kNonceSize, int(len)) == 1 &&
            EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_AEAD_SET_TAG, 16, tag.data()) == 1 &&
            EVP_DecryptFinal_ex(ctx, plain->data() + n, &n) == 1;
  EVP_CIPHER_CTX_free(ctx);
  plain->resize(len);
  return ok;
}

// Values sealed by an earlier build: the library's XChaCha20-Poly1305 under
// the given nonce.
std::vector<uint8_t> EarlierBuildSeal(const Key& key, const std::vector<uint8_t>& plain, const uint8_t* nonce) {
  std::vector<uint8_t> sealed(plain.size() + kOverhead);
  std::memcpy(sealed.data(), nonce, kNonceSize);
  unsigned long long clen = 0;
  crypto_aead_xchacha20poly1305_ietf_encrypt(sealed.data() + kNonceSize, &clen, plain.data(), plain.size(), kAd,
                                             sizeof kAd, nullptr, sealed.data(), key.data());
  return sealed;
}

// Seals with the sodium library's code or the portable code for the scope.
class PortableAes {
 public:
  explicit PortableAes(bool on) { dbe::crypto::UsePortableAes(on); }
  ~PortableAes() { dbe::crypto::UsePortableAes(false); }
};

TEST(CipherTest, SealedValuesAreStandardBoxesAndEveryChangeIsRefused) {
  ASSERT_GE(sodium_init(), 0);
  const Key key = TestKey(3), other = TestKey(4);
  for (bool portable_seal : {false, true}) {
    for (size_t len : {size_t{0}, size_t{1}, size_t{63}, size_t{199}, size_t{5000}}) {
      SCOPED_TRACE(std::string(portable_seal ? "portable" : "library") + " sealing, length " + std::to_string(len));
      const std::vector<uint8_t> plain = Plain(len, uint8_t(len));
      std::vector<uint8_t> sealed(len + kOverhead), back;
      {
        PortableAes mode(portable_seal);
        dbe::crypto::Seal(key, kAd, sizeof kAd, plain.data(), len, sealed.data());
      }
      ASSERT_TRUE(ReferenceOpen(key, sealed, &back));
      EXPECT_EQ(back, plain);

      for (bool portable_open : {false, true}) {
        PortableAes mode(portable_open);
        std::vector<uint8_t> opened(len + 1);
        ASSERT_TRUE(dbe::crypto::Open(key, kAd, sizeof kAd, sealed.data(), sealed.size(), opened.data()));
        EXPECT_TRUE(std::equal(plain.begin(), plain.end(), opened.begin()));
        for (size_t at : {size_t{0}, size_t{16}, size_t{22}, size_t{23}, kNonceSize, sealed.size() - 1}) {
          if (at >= sealed.size() || (len == 0 && at == kNonceSize)) continue;
          std::vector<uint8_t> bad = sealed;
          bad[at] ^= 0x10;
          EXPECT_FALSE(dbe::crypto::Open(key, kAd, sizeof kAd, bad.data(), bad.size(), opened.data())) << "byte " << at;
        }
        EXPECT_FALSE(dbe::crypto::Open(other, kAd, sizeof kAd, sealed.data(), sealed.size(), opened.data()));
        const uint8_t other_ad[16] = {};
        EXPECT_FALSE(dbe::crypto::Open(key, other_ad, sizeof other_ad, sealed.data(), sealed.size(), opened.data()));
      }
    }
  }
}

TEST(CipherTest, ValuesOfEarlierBuildsStillOpenWhateverTheirNonce) {
  ASSERT_GE(sodium_init(), 0);
  const Key key = TestKey(6);
  const std::vector<uint8_t> plain = Plain(199, 1);
  std::vector<uint8_t> ours(plain.size() + kOverhead), opened(plain.size());
  dbe::crypto::Seal(key, kAd, sizeof kAd, plain.data(), plain.size(), ours.data());

  uint8_t random_nonce[kNonceSize];
  randombytes_buf(random_nonce, sizeof random_nonce);
  uint8_t counter_nonce[kNonceSize] = {};
  std::memcpy(counter_nonce, random_nonce, 16);
  counter_nonce[16] = 7;  // the 64-bit counter of the builds before the first wholly random ones
  uint8_t marked_nonce[kNonceSize];
  std::memcpy(marked_nonce, random_nonce, kNonceSize);
  marked_nonce[22] = ours[22];  // a random nonce that ends as values sealed now do
  marked_nonce[23] = ours[23];
  for (const uint8_t* nonce : {random_nonce, counter_nonce, marked_nonce}) {
    std::vector<uint8_t> theirs = EarlierBuildSeal(key, plain, nonce);
    ASSERT_TRUE(dbe::crypto::Open(key, kAd, sizeof kAd, theirs.data(), theirs.size(), opened.data()));
    EXPECT_EQ(opened, plain);
    theirs[kNonceSize + 5] ^= 1;
    EXPECT_FALSE(dbe::crypto::Open(key, kAd, sizeof kAd, theirs.data(), theirs.size(), opened.data()));
    // A value sealed now opens again after one of an earlier build (the
    // kept subkeys follow the nonce).
    ASSERT_TRUE(dbe::crypto::Open(key, kAd, sizeof kAd, ours.data(), ours.size(), opened.data()));
    EXPECT_EQ(opened, plain);
  }
}

TEST(CipherTest, BatchesGiveEveryValueItsOwnNonceAndNameTheFirstBadOne) {
  // Enough rows of a payroll table's size for the work to be shared.
  constexpr size_t kLen = 199, kCount = 20000, kStride = kLen + kOverhead + 1;
  const Key key = TestKey(9);
  std::vector<uint8_t> plain(kCount * kLen);
  for (size_t i = 0; i < plain.size(); ++i) plain[i] = uint8_t(i * 13 + i / 199);
  std::vector<uint8_t> sealed(kCount * kStride);
  dbe::crypto::SealMany(key, kAd, sizeof kAd, plain.data(), kLen, kLen, kCount, sealed.data(), kStride);
  // One more alone: its nonce is not one of the batch's either.
  std::vector<uint8_t> single(kLen + kOverhead);
  dbe::crypto::Seal(key, kAd, sizeof kAd, plain.data(), kLen, single.data());

  std::set<std::string> nonces;
  for (size_t i = 0; i < kCount; ++i) {
    const uint8_t* s = sealed.data() + i * kStride;
    nonces.emplace(reinterpret_cast<const char*>(s), kNonceSize);
    std::vector<uint8_t> one(s, s + kLen + kOverhead), back;
    ASSERT_TRUE(ReferenceOpen(key, one, &back)) << "value " << i;
    ASSERT_EQ(0, std::memcmp(back.data(), plain.data() + i * kLen, kLen)) << "value " << i;
  }
  nonces.emplace(reinterpret_cast<const char*>(single.data()), kNonceSize);
  EXPECT_EQ(nonces.size(), kCount + 1);

  std::vector<uint8_t> opened(kCount * kLen);
  EXPECT_EQ(dbe::crypto::OpenMany(key, kAd, sizeof kAd, sealed.data(), kStride, kLen + kOverhead, kCount,
                                  opened.data(), kLen),
            kCount);
  EXPECT_EQ(opened, plain);
  // Damage far apart, in the parts different threads open: the first is named.
  sealed[15000 * kStride + 40] ^= 1;
  EXPECT_EQ(dbe::crypto::OpenMany(key, kAd, sizeof kAd, sealed.data(), kStride, kLen + kOverhead, kCount,
                                  opened.data(), kLen),
            15000u);
  sealed[7 * kStride + kLen + kOverhead - 1] ^= 1;
  EXPECT_EQ(dbe::crypto::OpenMany(key, kAd, sizeof kAd, sealed.data(), kStride, kLen + kOverhead, kCount,
                                  opened.data(), kLen),
            7u);
}

TEST(CipherTest, AForkedChildNeverRepeatsItsParentsNonces) {
  const Key key = TestKey(5);
  const uint8_t plain[8] = {};
  uint8_t before[sizeof plain + kOverhead];
  dbe::crypto::Seal(key, kAd, sizeof kAd, plain, sizeof plain, before);
  int pipe_fds[2];
  ASSERT_EQ(::pipe(pipe_fds), 0);
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    uint8_t sealed[sizeof plain + kOverhead];
    dbe::crypto::Seal(key, kAd, sizeof kAd, plain, sizeof plain, sealed);
    bool ok = ::write(pipe_fds[1], sealed, kNonceSize) == ssize_t(kNonceSize);
    ::_exit(ok ? 0 : 1);
  }
  uint8_t parent_next[sizeof plain + kOverhead];
  dbe::crypto::Seal(key, kAd, sizeof kAd, plain, sizeof plain, parent_next);
  uint8_t child_nonce[kNonceSize] = {};
  ASSERT_EQ(::read(pipe_fds[0], child_nonce, kNonceSize), ssize_t(kNonceSize));
  int status = 0;
  ::waitpid(child, &status, 0);
  ::close(pipe_fds[0]);
  ::close(pipe_fds[1]);
  EXPECT_EQ(0, std::memcmp(before, parent_next, 16)) << "the parent keeps its prefix";
  EXPECT_NE(0, std::memcmp(child_nonce, parent_next, 16)) << "the child draws its own";
}

}  // namespace
}  // namespace kx8test
