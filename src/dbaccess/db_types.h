// The value types of the database access layer: field types, table types,
// settings, field and index definitions, and the variant that carries a
// field or parameter value.
#ifndef KX8_DBACCESS_DB_TYPES_H_
#define KX8_DBACCESS_DB_TYPES_H_

#include <cstdint>
#include <initializer_list>
#include <string>
#include <variant>
#include <vector>

namespace kx8::dbaccess {

// A small set over an enumeration whose values are 0 to 31.
template <typename E>
class SetOf {
 public:
  constexpr SetOf() = default;
  constexpr SetOf(std::initializer_list<E> items) {
    for (E e : items) bits_ |= Bit(e);
  }
  constexpr bool Contains(E e) const { return (bits_ & Bit(e)) != 0; }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr void Include(E e) { bits_ |= Bit(e); }
  constexpr void Exclude(E e) { bits_ &= ~Bit(e); }
  friend constexpr bool operator==(SetOf a, SetOf b) { return a.bits_ == b.bits_; }

 private:
  static constexpr std::uint32_t Bit(E e) { return std::uint32_t{1} << static_cast<unsigned>(e); }
  std::uint32_t bits_ = 0;
};

// Field types of datasets.
enum TFieldType {
  ftUnknown,
  ftString,
  ftSmallint,
  ftInteger,
  ftWord,
  ftBoolean,
  ftFloat,
  ftCurrency,
  ftBCD,
  ftDate,
  ftTime,
  ftDateTime,
  ftBytes,
  ftVarBytes,
  ftAutoInc,
  ftBlob,
  ftMemo,
  ftGraphic,
  ftFmtMemo,
  ftParadoxOle,
  ftDBaseOle,
  ftTypedBinary
};

// The type's own name, "ftCurrency" for ftCurrency.
const char* FieldTypeName(TFieldType type);

enum TDbTableTypes { ttDbCDX, ttDbNTX, ttDbKDT, ttDbDefault };

enum class TDbCharTypes { ANSI, OEM };
enum class TDbLockType { Proprietary, Compatible };

enum TDbServerType { stDB_REMOTE, stDB_LOCAL, stDB_INTERNET };
using TDbServerTypes = SetOf<TDbServerType>;

enum TDbCommunicationType { ctDbDefault, ctDbUDPIP, ctDbIPX, ctDbTCPIP };

enum TIndexOption { ixPrimary, ixUnique, ixDescending, ixCaseInsensitive, ixExpression };
using TIndexOptions = SetOf<TIndexOption>;

enum TLocateOption { loCaseInsensitive, loPartialKey };
using TLocateOptions = SetOf<TLocateOption>;

// closed, browsing, editing a row, inserting a new row
enum TDataSetState { dsInactive, dsBrowse, dsEdit, dsInsert };

// A field or parameter value: null, logical, whole number, number (also
// dates and times as day numbers from 30 December 1899 with the time of day
// as fraction), or text (also the bytes of binary values).
using TVariant = std::variant<std::monostate, bool, std::int64_t, double, std::string>;

inline bool VarIsNull(const TVariant& v) { return std::holds_alternative<std::monostate>(v); }

struct TFieldDef {
  std::string Name;
  TFieldType DataType = ftUnknown;
  int Size = 0;        // characters for ftString, bytes for ftBytes, else as the type mapping says
  int Precision = 0;   // 20 for ftBCD fields read from a table
};

class TFieldDefs {
 public:
  void Clear() { items_.clear(); }
  void Add(const std::string& name, TFieldType type, int size = 0) { items_.push_back({name, type, size, 0}); }
  void Add(const TFieldDef& def) { items_.push_back(def); }
  int Count() const { return static_cast<int>(items_.size()); }
  const TFieldDef& operator[](int i) const { return items_.at(static_cast<std::size_t>(i)); }
  const std::vector<TFieldDef>& Items() const { return items_; }
  // Without regard to case; nullptr when absent.
  const TFieldDef* Find(const std::string& name) const;

 private:
  std::vector<TFieldDef> items_;
};

struct TIndexDef {
  std::string Name;
  std::string Fields;      // key fields separated by ";"
  std::string Expression;  // the key expression as the table keeps it
  TIndexOptions Options;
};

class TIndexDefs {
 public:
  void Clear() { items_.clear(); }
  void Add(const TIndexDef& def) { items_.push_back(def); }
  void Add(const std::string& name, const std::string& fields, TIndexOptions options) {
    items_.push_back({name, fields, fields, options});
  }
  int Count() const { return static_cast<int>(items_.size()); }
  const TIndexDef& operator[](int i) const { return items_.at(static_cast<std::size_t>(i)); }
  const std::vector<TIndexDef>& Items() const { return items_; }
  // Without regard to case; nullptr when absent.
  const TIndexDef* Find(const std::string& name) const;

 private:
  std::vector<TIndexDef> items_;
};

class TDbDataSet;

// The engine settings of a table or query. The owner refuses changes of the
// settings it needs fixed while it is open.
class TDbTableOptions {
 public:
  TDbTableOptions() = default;
  explicit TDbTableOptions(TDbDataSet* owner) : owner_(owner) {}
  TDbTableOptions(const TDbTableOptions&) = delete;
  TDbTableOptions& operator=(const TDbTableOptions&) = delete;

  TDbLockType DbLockType() const { return lock_type_; }
  void SetDbLockType(TDbLockType v);
  TDbCharTypes DbCharType() const { return char_type_; }
  void SetDbCharType(TDbCharTypes v);
  bool DbRightsCheck() const { return rights_check_; }
  void SetDbRightsCheck(bool v);
  bool DbOptimizedFilters() const { return optimized_filters_; }
  void SetDbOptimizedFilters(bool v);
  std::uint32_t DbIndexPageSize() const { return index_page_size_; }
  void SetDbIndexPageSize(std::uint32_t v);
  bool DbPreserveSpaces() const { return preserve_spaces_; }
  void SetDbPreserveSpaces(bool v);

  // The engine arguments: lock type 1 Proprietary / 0 Compatible, character
  // type 1 ANSI / 2 OEM, rights 1 check / 2 ignore.
  std::uint16_t EngineLockType() const { return lock_type_ == TDbLockType::Proprietary ? 1 : 0; }
  std::uint16_t EngineCharType() const { return char_type_ == TDbCharTypes::ANSI ? 1 : 2; }
  std::uint16_t EngineRights() const { return rights_check_ ? 1 : 2; }

 private:
  enum class Setting { LockType, CharType, RightsCheck, OptimizedFilters, IndexPageSize, PreserveSpaces };
  void Check(Setting s) const;

  TDbDataSet* owner_ = nullptr;
  TDbLockType lock_type_ = TDbLockType::Proprietary;
  TDbCharTypes char_type_ = TDbCharTypes::ANSI;
  bool rights_check_ = true;
  bool optimized_filters_ = true;
  std::uint32_t index_page_size_ = 0;
  bool preserve_spaces_ = false;

  friend class TDbDataSet;
};

// Engine table type of a table type: 2 CDX, 1 NTX, 3 KDT and default.
std::uint16_t EngineTableType(TDbTableTypes type);

}  // namespace kx8::dbaccess

#endif  // KX8_DBACCESS_DB_TYPES_H_
