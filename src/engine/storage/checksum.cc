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

#if defined(__x86_64__)
__attribute__((target("sse4.2"))) uint32_t HardwareCrc(uint32_t crc, const uint8_t* p, size_t n) {
  uint64_t c = crc;
  while (n >= 8) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    c = _mm_crc32_u64(c, v);
    p += 8;
    n -= 8;
  }
  uint32_t c32 = static_cast<uint32_t>(c);
  while (n > 0) {
    c32 = _mm_crc32_u8(c32, *p++);
    --n;
  }
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

uint32_t RowChecksum(uint32_t recno, const uint8_t* record, uint32_t length) {
  const uint8_t number[4] = {uint8_t(recno), uint8_t(recno >> 8), uint8_t(recno >> 16), uint8_t(recno >> 24)};
  return Crc32c(Crc32c(0, number, 4), record, length);
}

}  // namespace dbe
