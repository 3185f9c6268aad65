// The structure of a table: its fields, their types and where each one
// stands in the record image, and the parsing of the creation field list
// ("COMPANY_CODE,Char,8;TOTAL_STAFF,Integer;BACKUPDATE,Date;").
#ifndef KX8_ENGINE_STORAGE_SCHEMA_H_
#define KX8_ENGINE_STORAGE_SCHEMA_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace dbe {

constexpr size_t kMaxFieldName = 63;
constexpr uint32_t kMaxFields = 2000;
constexpr uint32_t kMaxCharLength = 65000;
constexpr uint32_t kMemoRefSize = 12;  // u64 offset + u32 length

struct Field {
  std::string name;
  uint16_t type = 0;       // DBE_FT_*
  uint32_t length = 0;     // characters for character/raw/numeric fields, else 0
  uint16_t decimals = 0;
  uint32_t offset = 0;     // in the record image
  uint32_t width = 0;      // bytes in the record image
};

// Byte width of a field of this type and length in the record image.
uint32_t FieldWidth(uint16_t type, uint32_t length);
bool IsKnownFieldType(uint16_t type);
bool IsBlobType(uint16_t type);       // memo, binary, image, varchar
bool IsCharType(uint16_t type);       // character, case-insensitive character
const char* FieldTypeName(uint16_t type);  // the creation type piece

// The record image: status byte, null bitmap, then the fields in order.
struct Layout {
  std::vector<Field> fields;
  uint32_t null_bytes = 0;
  uint32_t record_length = 0;  // plain image length

  // Assigns offsets and widths and the record length.
  void Finish();
  std::unordered_map<std::string, int> by_name;  // upper-case name -> index, made by Finish()
  int Find(std::string_view name) const;  // without regard to case; -1 when absent
  bool HasBlobs() const;
};

constexpr uint8_t kRowActive = ' ';
constexpr uint8_t kRowDeleted = '*';

// Parses a creation field list. Fails with DBE_INVALID_FIELD_LIST,
// DBE_UNSUPPORTED_FIELD_TYPE; table_file names the table in the text.
Layout ParseFieldList(std::string_view list, const std::string& table_file);

// The creation field list that gives this layout back.
std::string FieldListText(const Layout& layout);

// Null-bitmap helpers over a record image.
inline bool IsNullBit(const uint8_t* rec, uint32_t field_index) {
  return (rec[1 + field_index / 8] >> (field_index % 8)) & 1;
}
inline void SetNullBit(uint8_t* rec, uint32_t field_index, bool is_null) {
  uint8_t& b = rec[1 + field_index / 8];
  uint8_t m = uint8_t(1u << (field_index % 8));
  b = is_null ? uint8_t(b | m) : uint8_t(b & ~m);
}

}  // namespace dbe

#endif  // KX8_ENGINE_STORAGE_SCHEMA_H_
