// TField: one column of the current row of an open dataset, read from the
// row's record image and written back when the row is posted. A dataset
// makes its fields when it opens and frees them when it closes.
#ifndef KX8_DBACCESS_DB_FIELD_H_
#define KX8_DBACCESS_DB_FIELD_H_

#include <cstdint>
#include <string>

#include "dbaccess/db_types.h"

namespace kx8::dbaccess {

class TDbDataSet;

class TField {
 public:
  const std::string& FieldName() const { return name_; }
  TFieldType DataType() const { return type_; }
  int Size() const { return size_; }
  // Size + 1 for ftString (room for the terminator), Size for ftBytes, 0 for
  // memo and blob fields, else the value's width in the record.
  int DataSize() const;
  int FieldNo() const { return index_ + 1; }

  // Reading rules: an empty value is null; character values come without
  // trailing blanks; logical values are true for a stored "T", "t", "Y",
  // "y" or "1"; dates and times are day numbers from 30 December 1899.
  bool IsNull() const;
  std::string AsString() const;
  std::int64_t AsInteger() const;
  double AsFloat() const;
  double AsCurrency() const;  // rounded to four decimals
  double AsDateTime() const;
  bool AsBoolean() const;
  TVariant AsVariant() const;

  // Writing needs the dataset in the edit or insert state; the value is
  // converted to the field's type at once and written when the row is
  // posted. An empty text sets a field that is not a text field to null.
  void SetAsString(const std::string& v);
  void SetAsInteger(std::int64_t v);
  void SetAsFloat(double v);
  void SetAsCurrency(double v);
  void SetAsDateTime(double v);
  void SetAsBoolean(bool v);
  void SetAsVariant(const TVariant& v);
  void Clear();  // null

 private:
  friend class TDbDataSet;
  TField() = default;

  TVariant Value() const;
  void Set(const TVariant& v);

  TDbDataSet* ds_ = nullptr;
  int index_ = 0;
  std::string name_;
  TFieldType type_ = ftUnknown;
  int size_ = 0;
  std::uint16_t engine_type_ = 0;
  std::uint32_t length_ = 0;
  std::uint16_t decimals_ = 0;
  std::uint32_t offset_ = 0;
  std::uint32_t width_ = 0;
  TVariant new_value_;
  bool changed_ = false;
};

}  // namespace kx8::dbaccess

#endif  // KX8_DBACCESS_DB_FIELD_H_
