// Index keys. A tag's key is a list of fields ("EMP_NO;YEAR" or
// "EMP_NO+YEAR"); it is encoded as fixed-width bytes that compare with
// memcmp in key order, followed by the record number (big-endian) so that
// equal keys keep record order. A descending tag inverts the key bytes.
#ifndef KX8_ENGINE_INDEX_KEY_H_
#define KX8_ENGINE_INDEX_KEY_H_

#include <cstdint>
#include <string>
#include <vector>

#include "dbe/dbe.h"
#include "storage/schema.h"

namespace dbe {

struct KeyPart {
  int field = -1;        // index into the layout
  uint32_t offset = 0;   // in the key
  uint32_t width = 0;
};

class KeyDef {
 public:
  // Resolves the expression against the layout; unknown or unindexable
  // fields fail (DBE_COLUMN_NOT_FOUND / DBE_KEY_NOT_INDEXABLE).
  KeyDef(const Layout& layout, const std::string& expr, bool descending, const std::string& table_file);
  KeyDef() = default;

  uint32_t key_width() const { return key_width_; }
  uint32_t entry_width() const { return key_width_ + 4; }
  const std::vector<KeyPart>& parts() const { return parts_; }
  bool descending() const { return descending_; }

  // Encodes the key of a plain record image, then the record number.
  void EncodeEntry(const Layout& layout, const uint8_t* rec, uint32_t recno, uint8_t* out) const;
  // Encodes caller key values for a seek or scope; returns the number of key
  // bytes they cover (a prefix of the key). The last character value may be
  // a prefix when partial_last is true.
  std::string EncodeSeekKey(const Layout& layout, const DBE_KEY_VALUE* values, uint16_t count,
                            bool partial_last, const std::string& table_file) const;

 private:
  std::vector<KeyPart> parts_;
  uint32_t key_width_ = 0;
  bool descending_ = false;
};

inline uint32_t EntryRecno(const uint8_t* entry, uint32_t key_width) {
  return (uint32_t(entry[key_width]) << 24) | (uint32_t(entry[key_width + 1]) << 16) |
         (uint32_t(entry[key_width + 2]) << 8) | entry[key_width + 3];
}

}  // namespace dbe

#endif  // KX8_ENGINE_INDEX_KEY_H_
