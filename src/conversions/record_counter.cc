#include "conversions/record_counter.h"

#include <limits>
#include <stdexcept>

namespace kx8::conversions {
namespace {

constexpr std::int64_t kExactInDouble = std::int64_t{1} << 53;

// Edits and saves the row, leaving no pending edit behind on failure.
void SaveCounter(dbaccess::TDbTable& t, const std::string& counter, std::int64_t value) {
  t.Edit();
  try {
    t.FieldByName(counter).SetAsInteger(value);
    t.Post();
  } catch (...) {
    t.Cancel();
    throw;
  }
}

}  // namespace

RecordCounter::RecordCounter(schema::UpgradeContext& ctx, const std::string& counter)
    : table_(ctx, kCounterTable), counter_(counter) {
  if (table_->Eof()) throw std::runtime_error(std::string(kCounterTable) + " has no counter row.");
  dbaccess::TField* field = table_->FindField(counter_);
  if (field == nullptr) throw std::runtime_error(std::string(kCounterTable) + " has no counter " + counter_ + ".");
  counter_ = field->FieldName();
}

std::int64_t RecordCounter::Value() { return table_->FieldByName(counter_).AsInteger(); }

std::int64_t RecordCounter::Take() {
  const std::int64_t next = Next();
  RequireColumnHolds(table_->FieldByName(counter_), kCounterTable, "The number", next);
  SaveCounter(*table_, counter_, next);
  return next;
}

void RecordCounter::Set(std::int64_t value) {
  RequireColumnHolds(table_->FieldByName(counter_), kCounterTable, "The number", value);
  SaveCounter(*table_, counter_, value);
}

bool ColumnHolds(const dbaccess::TField& field, std::int64_t value) {
  switch (field.DataType()) {
    case dbaccess::ftSmallint:
      return value >= std::numeric_limits<std::int16_t>::min() && value <= std::numeric_limits<std::int16_t>::max();
    case dbaccess::ftWord: return value >= 0 && value <= std::numeric_limits<std::uint16_t>::max();
    case dbaccess::ftInteger:
    case dbaccess::ftAutoInc:
      return value >= std::numeric_limits<std::int32_t>::min() && value <= std::numeric_limits<std::int32_t>::max();
    case dbaccess::ftFloat:
    case dbaccess::ftCurrency:
    case dbaccess::ftBCD: return value >= -kExactInDouble && value <= kExactInDouble;
    case dbaccess::ftString: return std::to_string(value).size() <= static_cast<std::size_t>(field.Size());
    default: return false;
  }
}

void RequireColumnHolds(const dbaccess::TField& field, const std::string& table, const std::string& what,
                        std::int64_t value) {
  if (ColumnHolds(field, value)) return;
  throw std::runtime_error(what + " " + std::to_string(value) + " does not fit the column " + table + "." +
                           field.FieldName() + "; nothing more was numbered.");
}

}  // namespace kx8::conversions
