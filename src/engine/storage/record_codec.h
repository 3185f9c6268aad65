// Reading and writing single field values in a plain record image.
// Blob fields (memo, binary, image) hold a reference into the memo file; they
// are handled by the table, not here.
#ifndef KX8_ENGINE_STORAGE_RECORD_CODEC_H_
#define KX8_ENGINE_STORAGE_RECORD_CODEC_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/value.h"
#include "storage/schema.h"

namespace dbe {

// The value of a non-blob field (Null when empty).
Value ReadFieldValue(const Field& f, uint32_t index, const uint8_t* rec);
// The field as text: trailing blanks dropped, numbers plain, dates YYYYMMDD,
// logical T/F, empty for null.
std::string ReadFieldText(const Field& f, uint32_t index, const uint8_t* rec);

// Stores a text converted to the field's type. Overlong character values are
// cut; an all-blank character value becomes empty. A text that does not
// convert fails with DBE_COLUMN_VALUE naming the column.
void WriteFieldText(const Field& f, uint32_t index, uint8_t* rec, std::string_view text,
                    const std::string& table_file);
// Stores a typed value converted to the field's type.
void WriteFieldValue(const Field& f, uint32_t index, uint8_t* rec, const Value& v,
                     const std::string& table_file);
// Stores the field's raw encoding (for character fields, at most its width).
void WriteFieldRaw(const Field& f, uint32_t index, uint8_t* rec, const uint8_t* raw, uint32_t len,
                   const std::string& table_file);
void WriteFieldEmpty(const Field& f, uint32_t index, uint8_t* rec);

// Exact decimal text to ten-thousandths (rounded half away from zero).
std::optional<int64_t> ParseMoney(std::string_view text);
std::string MoneyText(int64_t ten_thousandths);
std::optional<double> ParseDouble(std::string_view text);
std::string DoubleText(double v);
// Logical rule: T, t, Y, y and 1 are true.
bool LogicalFromChar(char c);

[[noreturn]] void FailColumnValue(const Field& f, std::string_view why, const std::string& table_file);

}  // namespace dbe

#endif  // KX8_ENGINE_STORAGE_RECORD_CODEC_H_
