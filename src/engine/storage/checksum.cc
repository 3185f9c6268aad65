#include "storage/checksum.h"

#include <array>
#include <cstring>

#if defined(__x86_64__)
#include <nmmintrin.h>
#endif

namespace dbe {
namespace {

constexpr uint32_t kPolynomial = 0x82F63B78u;  // reflected Castagnoli

std::array<uint32_t, 256> MakeTable() {
  std::array<uint32_t, 256> t{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ kPolynomial : c >> 1;
    t[i] = c;
  }
  return t;
}

uint32_t SoftwareCrc(uint32_t crc, const uint8_t* p, size_t n) {
  static const std::array<uint32_t, 256> table = MakeTable();
  for (size_t i = 0; i < n; ++i) crc = table[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
  return crc;
}

// The register after `n` zero bytes, as four tables of 256 (the operation
// is linear in the register): lets three lanes of a block be computed side
// by side and joined.
using ShiftTable = std::array<std::array<uint32_t, 256>, 4>;

ShiftTable MakeShift(size_t n) {
  uint32_t basis[32];
  const std::array<uint8_t, 256> zeros{};
  for (int bit = 0; bit < 32; ++bit) {
    uint32_t r = 1u << bit;
    for (size_t left = n; left > 0;) {
      const size_t step = left < zeros.size() ? left : zeros.size();
      r = SoftwareCrc(r, zeros.data(), step);
      left -= step;
    }
    basis[bit] = r;
  }
  ShiftTable t{};
  for (int k = 0; k < 4; ++k) {
    for (uint32_t b = 0; b < 256; ++b) {
      uint32_t v = 0;
      for (int bit = 0; bit < 8; ++bit) {
        if ((b >> bit) & 1) v ^= basis[8 * k + bit];
      }
      t[k][b] = v;
    }
  }
  return t;
}

#if defined(__x86_64__)
constexpr size_t kLane = 64;

uint64_t Load64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}

// Reads the word at p (and with kCopy stores it at the same place of out):
// a row read checks and copies its bytes in one pass.
template <bool kCopy>
uint64_t Take64(const uint8_t* p, uint8_t* out, size_t at) {
  const uint64_t v = Load64(p + at);
  if constexpr (kCopy) std::memcpy(out + at, &v, 8);
  return v;
}

template <bool kCopy>
__attribute__((target("sse4.2"))) uint32_t TakeByte(uint32_t crc, const uint8_t* p, uint8_t* out, size_t at) {
  if constexpr (kCopy) out[at] = p[at];
  return _mm_crc32_u8(crc, p[at]);
}

// The instruction's latency is three times its issue rate, so one lane
// leaves it two-thirds idle: blocks of three lanes run side by side and are
// joined by carrying the earlier lanes over the later ones, both at once
// (one table for a lane's distance, one for two). Bytes beyond whole blocks
// go to the front of the first block's first lane, so a row of 200 bytes
// is one block with no serial tail after the join.
template <bool kCopy>
__attribute__((target("sse4.2"))) uint32_t HardwareCrc(uint32_t crc, const uint8_t* p, size_t n, uint8_t* out) {
  static const ShiftTable over_one = MakeShift(kLane);
  static const ShiftTable over_two = MakeShift(2 * kLane);
  auto carry = [](const ShiftTable& t, uint32_t r) {
    return t[0][r & 0xFF] ^ t[1][(r >> 8) & 0xFF] ^ t[2][(r >> 16) & 0xFF] ^ t[3][r >> 24];
  };
  size_t at = 0;
  if (n < 3 * kLane) {
    uint64_t c = crc;
    for (; at + 8 <= n; at += 8) c = _mm_crc32_u64(c, Take64<kCopy>(p, out, at));
    crc = static_cast<uint32_t>(c);
    for (; at < n; ++at) crc = TakeByte<kCopy>(crc, p, out, at);
    return crc;
  }
  // The first lane of the first block is longer by the bytes left over.
  size_t extra = n % (3 * kLane);
  for (; extra % 8 != 0; --extra, ++at) crc = TakeByte<kCopy>(crc, p, out, at);
  while (at < n) {
    const size_t b_at = at + kLane + extra, c_at = b_at + kLane;
    uint64_t a = crc, b = 0, c = 0;
    for (; at < b_at - kLane; at += 8) a = _mm_crc32_u64(a, Take64<kCopy>(p, out, at));
    for (size_t i = 0; i < kLane; i += 8) {
      a = _mm_crc32_u64(a, Take64<kCopy>(p, out, at + i));
      b = _mm_crc32_u64(b, Take64<kCopy>(p, out, b_at + i));
      c = _mm_crc32_u64(c, Take64<kCopy>(p, out, c_at + i));
    }
    crc = carry(over_two, static_cast<uint32_t>(a)) ^ carry(over_one, static_cast<uint32_t>(b)) ^
          static_cast<uint32_t>(c);
    at = c_at + kLane;
    extra = 0;
  }
  return crc;
}

bool HasHardwareCrc() {
  static const bool has = __builtin_cpu_supports("sse4.2");
  return has;
}
#endif

}  // namespace

uint32_t Crc32c(uint32_t crc, const void* data, size_t n) {
  const auto* p = static_cast<const uint8_t*>(data);
  crc = ~crc;
#if defined(__x86_64__)
  if (HasHardwareCrc()) return ~HardwareCrc<false>(crc, p, n, nullptr);
#endif
  return ~SoftwareCrc(crc, p, n);
}

#if defined(__x86_64__)
namespace {
template <bool kCopy>
__attribute__((target("sse4.2"))) uint32_t HardwareRow(uint32_t recno, const uint8_t* record, uint32_t length,
                                                        uint8_t* out) {
  return ~HardwareCrc<kCopy>(_mm_crc32_u32(~0u, recno), record, length, out);
}
// The register after a row number's four bytes (a pack moves a check from
// one number to another for every row it keeps).
__attribute__((target("sse4.2"))) uint32_t NumberRegister(uint32_t recno) { return _mm_crc32_u32(~0u, recno); }
}  // namespace
#endif

uint32_t RowChecksum(uint32_t recno, const uint8_t* record, uint32_t length) {
#if defined(__x86_64__)
  // One pass, the number's four bytes first: the hot path of every read.
  if (HasHardwareCrc()) return HardwareRow<false>(recno, record, length, nullptr);
#endif
  const uint8_t number[4] = {uint8_t(recno), uint8_t(recno >> 8), uint8_t(recno >> 16), uint8_t(recno >> 24)};
  return Crc32c(Crc32c(0, number, 4), record, length);
}

uint32_t RowChecksumAndCopy(uint32_t recno, const uint8_t* record, uint32_t length, uint8_t* out) {
#if defined(__x86_64__)
  if (HasHardwareCrc()) return HardwareRow<true>(recno, record, length, out);
#endif
  std::memcpy(out, record, length);
  return RowChecksum(recno, out, length);
}

RowRenumbering::RowRenumbering(uint32_t record_length) : over_record_(MakeShift(record_length)) {}

uint32_t RowRenumbering::Move(uint32_t check, uint32_t from, uint32_t to) const {
  // check = ~(Z(R(~0, from)) ^ R(0, record)) with Z the register carried
  // over the record's bytes; so the two numbers' registers differ by
  // R(~0, from) ^ R(~0, to), carried over the record.
  auto number_register = [](uint32_t recno) {
#if defined(__x86_64__)
    if (HasHardwareCrc()) return NumberRegister(recno);
#endif
    const uint8_t n[4] = {uint8_t(recno), uint8_t(recno >> 8), uint8_t(recno >> 16), uint8_t(recno >> 24)};
    return SoftwareCrc(~0u, n, 4);
  };
  const uint32_t d = number_register(from) ^ number_register(to);
  return check ^ over_record_[0][d & 0xFF] ^ over_record_[1][(d >> 8) & 0xFF] ^ over_record_[2][(d >> 16) & 0xFF] ^
         over_record_[3][d >> 24];
}

}  // namespace dbe
