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

// The instruction's latency is three times its issue rate, so one lane
// leaves it two-thirds idle: blocks of three lanes run side by side and are
// joined by shifting the earlier lanes over the later ones.
__attribute__((target("sse4.2"))) uint32_t HardwareCrc(uint32_t crc, const uint8_t* p, size_t n) {
  static const ShiftTable shift = MakeShift(kLane);
  auto over_lane = [&](uint32_t r) {
    return shift[0][r & 0xFF] ^ shift[1][(r >> 8) & 0xFF] ^ shift[2][(r >> 16) & 0xFF] ^ shift[3][r >> 24];
  };
  while (n >= 3 * kLane) {
    uint64_t a = crc, b = 0, c = 0;
    for (size_t i = 0; i < kLane; i += 8) {
      a = _mm_crc32_u64(a, Load64(p + i));
      b = _mm_crc32_u64(b, Load64(p + kLane + i));
      c = _mm_crc32_u64(c, Load64(p + 2 * kLane + i));
    }
    crc = over_lane(over_lane(static_cast<uint32_t>(a)) ^ static_cast<uint32_t>(b)) ^ static_cast<uint32_t>(c);
    p += 3 * kLane;
    n -= 3 * kLane;
  }
  uint64_t c = crc;
  for (; n >= 8; p += 8, n -= 8) c = _mm_crc32_u64(c, Load64(p));
  uint32_t c32 = static_cast<uint32_t>(c);
  for (; n > 0; --n) c32 = _mm_crc32_u8(c32, *p++);
  return c32;
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
  if (HasHardwareCrc()) return ~HardwareCrc(crc, p, n);
#endif
  return ~SoftwareCrc(crc, p, n);
}

#if defined(__x86_64__)
namespace {
__attribute__((target("sse4.2"))) uint32_t HardwareRow(uint32_t recno, const uint8_t* record, uint32_t length) {
  return ~HardwareCrc(_mm_crc32_u32(~0u, recno), record, length);
}
// The register after a row number's four bytes (a pack moves a check from
// one number to another for every row it keeps).
__attribute__((target("sse4.2"))) uint32_t NumberRegister(uint32_t recno) { return _mm_crc32_u32(~0u, recno); }
}  // namespace
#endif

uint32_t RowChecksum(uint32_t recno, const uint8_t* record, uint32_t length) {
#if defined(__x86_64__)
  // One pass, the number's four bytes first: the hot path of every read.
  if (HasHardwareCrc()) return HardwareRow(recno, record, length);
#endif
  const uint8_t number[4] = {uint8_t(recno), uint8_t(recno >> 8), uint8_t(recno >> 16), uint8_t(recno >> 24)};
  return Crc32c(Crc32c(0, number, 4), record, length);
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
