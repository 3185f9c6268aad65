// Record numbers from the counter table TRNNO, a single row of counters
// that the application raises for every new record: taking a number raises
// its counter by one and saves the row before the number is used, so a
// number is never given out twice, even when a later step fails.
#ifndef KX8_CONVERSIONS_RECORD_COUNTER_H_
#define KX8_CONVERSIONS_RECORD_COUNTER_H_

#include <cstdint>
#include <string>

#include "conversions/company_table.h"
#include "dbaccess/db_field.h"
#include "schema/context.h"

namespace kx8::conversions {

inline constexpr char kCounterTable[] = "TRNNO";

class RecordCounter {
 public:
  // Opens TRNNO on its first row. Raises, naming the table or the field,
  // when the table has no row or no such counter.
  RecordCounter(schema::UpgradeContext& ctx, const std::string& counter);

  std::int64_t Value();
  // The number the next Take() gives.
  std::int64_t Next() { return Value() + 1; }
  std::int64_t Take();
  // Sets the counter and saves the row.
  void Set(std::int64_t value);

 private:
  CompanyTable table_;
  std::string counter_;
};

// Whether a number column can hold the value exactly: integer columns by
// their width, floating and money columns up to 2^53, text columns by their
// width in digits.
bool ColumnHolds(const dbaccess::TField& field, std::int64_t value);

// Raises "<what> <value> does not fit the column <table>.<field>; ..." when
// the column cannot hold the value, before anything is written there.
void RequireColumnHolds(const dbaccess::TField& field, const std::string& table, const std::string& what,
                        std::int64_t value);

}  // namespace kx8::conversions

#endif  // KX8_CONVERSIONS_RECORD_COUNTER_H_
