// Little-endian encoding of integers in file images, and the big-endian,
// sign-flipped forms that make index keys compare with memcmp.
#ifndef KX8_ENGINE_STORAGE_BYTES_H_
#define KX8_ENGINE_STORAGE_BYTES_H_

#include <bit>
#include <cstdint>
#include <cstring>
#include <string>

namespace dbe {

// On a little-endian machine (every one the engine runs on) these are
// plain loads and stores: the byte loops below are not always recognised
// as such, and the row counts are read several times for every row a
// cursor passes.
inline constexpr bool kLittleEndian = std::endian::native == std::endian::little;

inline void PutU16(uint8_t* p, uint16_t v) { p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); }
inline void PutU32(uint8_t* p, uint32_t v) {
  if constexpr (kLittleEndian) {
    std::memcpy(p, &v, 4);
  } else {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
  }
}
inline void PutU64(uint8_t* p, uint64_t v) {
  if constexpr (kLittleEndian) {
    std::memcpy(p, &v, 8);
  } else {
    for (int i = 0; i < 8; ++i) p[i] = uint8_t(v >> (8 * i));
  }
}
inline uint16_t GetU16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t GetU32(const uint8_t* p) {
  uint32_t v = 0;
  if constexpr (kLittleEndian) {
    std::memcpy(&v, p, 4);
  } else {
    for (int i = 3; i >= 0; --i) v = (v << 8) | p[i];
  }
  return v;
}
inline uint64_t GetU64(const uint8_t* p) {
  uint64_t v = 0;
  if constexpr (kLittleEndian) {
    std::memcpy(&v, p, 8);
  } else {
    for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  }
  return v;
}
inline void PutI32(uint8_t* p, int32_t v) { PutU32(p, static_cast<uint32_t>(v)); }
inline int32_t GetI32(const uint8_t* p) { return static_cast<int32_t>(GetU32(p)); }
inline void PutI64(uint8_t* p, int64_t v) { PutU64(p, static_cast<uint64_t>(v)); }
inline int64_t GetI64(const uint8_t* p) { return static_cast<int64_t>(GetU64(p)); }
inline void PutF64(uint8_t* p, double v) { uint64_t u; std::memcpy(&u, &v, 8); PutU64(p, u); }
inline double GetF64(const uint8_t* p) { uint64_t u = GetU64(p); double v; std::memcpy(&v, &u, 8); return v; }

// Order-preserving big-endian forms for index keys.
inline void PutKeyU32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (24 - 8 * i));
}
inline void PutKeyU64(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = uint8_t(v >> (56 - 8 * i));
}
inline uint32_t GetKeyU32(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}
inline void PutKeyI32(uint8_t* p, int32_t v) { PutKeyU32(p, static_cast<uint32_t>(v) ^ 0x80000000u); }
inline void PutKeyI64(uint8_t* p, int64_t v) {
  PutKeyU64(p, static_cast<uint64_t>(v) ^ 0x8000000000000000ull);
}
inline void PutKeyF64(uint8_t* p, double v) {
  if (v == 0) v = 0;  // -0 and +0 compare equal
  uint64_t u;
  std::memcpy(&u, &v, 8);
  u = (u & 0x8000000000000000ull) ? ~u : (u | 0x8000000000000000ull);
  PutKeyU64(p, u);
}

// Appends little-endian values and length-prefixed strings to a byte image.
class ByteWriter {
 public:
  void U8(uint8_t v) { out_.push_back(char(v)); }
  void U16(uint16_t v) { uint8_t b[2]; PutU16(b, v); Raw(b, 2); }
  void U32(uint32_t v) { uint8_t b[4]; PutU32(b, v); Raw(b, 4); }
  void U64(uint64_t v) { uint8_t b[8]; PutU64(b, v); Raw(b, 8); }
  void Str(const std::string& s) { U32(uint32_t(s.size())); out_ += s; }
  void Raw(const void* p, size_t n) { out_.append(static_cast<const char*>(p), n); }
  std::string& bytes() { return out_; }

 private:
  std::string out_;
};

// Reads what ByteWriter wrote; running off the end sets failed().
class ByteReader {
 public:
  ByteReader(const uint8_t* p, size_t n) : p_(p), n_(n) {}
  bool failed() const { return failed_; }
  size_t remaining() const { return n_ - pos_; }
  size_t pos() const { return pos_; }
  const uint8_t* Take(size_t n) {
    if (failed_ || n > n_ - pos_) { failed_ = true; return nullptr; }
    const uint8_t* r = p_ + pos_;
    pos_ += n;
    return r;
  }
  uint8_t U8() { auto* q = Take(1); return q ? q[0] : 0; }
  uint16_t U16() { auto* q = Take(2); return q ? GetU16(q) : 0; }
  uint32_t U32() { auto* q = Take(4); return q ? GetU32(q) : 0; }
  uint64_t U64() { auto* q = Take(8); return q ? GetU64(q) : 0; }
  std::string Str(size_t max_len) {
    uint32_t n = U32();
    if (n > max_len) { failed_ = true; return {}; }
    auto* q = Take(n);
    return q ? std::string(reinterpret_cast<const char*>(q), n) : std::string();
  }

 private:
  const uint8_t* p_;
  size_t n_;
  size_t pos_ = 0;
  bool failed_ = false;
};

}  // namespace dbe

#endif  // KX8_ENGINE_STORAGE_BYTES_H_
