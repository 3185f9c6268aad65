// The functions of the expression language: the catalogue the parser checks
// calls against, and the scalar functions themselves.
//
// Scalar functions (null in, null out unless said otherwise; character
// results keep their blanks, lengths and positions count bytes):
//   UPPER/UCASE(s), LOWER/LCASE(s)   ASCII letters only
//   TRIM(s), LTRIM(s), RTRIM(s)      blanks
//   LEFT(s, n), RIGHT(s, n)
//   SUBSTRING/SUBSTR(s, start[, len])  start counts from 1
//   LENGTH/LEN/CHAR_LENGTH(s)        without trailing blanks
//   CONCAT(a, ...)                   nulls count as empty
//   ABS(x), FLOOR(x), CEILING/CEIL(x), MOD(a, b)
//   ROUND(x[, d])                    half away from zero; money stays money
//   IIF(cond, a, b)                  only the chosen branch is evaluated
//   IFNULL/ISNULL/NVL(a, b), COALESCE(a, ...)  empty character values count
//                                    as null
//   YEAR(d), MONTH(d), DAY(d)        of a date, a timestamp or a date text
//   CURDATE()/CURRENT_DATE(), CURTIME(), NOW()  from the system clock,
//                                    local time
// Aggregates COUNT(*), COUNT([DISTINCT] x), SUM, AVG, MIN, MAX parse but are
// computed by the SQL executor; evaluating one is an error.
#ifndef KX8_ENGINE_EXPR_FUNCTIONS_H_
#define KX8_ENGINE_EXPR_FUNCTIONS_H_

#include <string_view>

#include "core/value.h"
#include "expr/ast.h"

namespace dbe::expr {

class RowAccess;

struct FunctionInfo {
  const char* name;
  Func func;
  int min_args;
  int max_args;  // -1: any number
};

// The function of that name (any letter case), or null.
const FunctionInfo* FindFunction(std::string_view name);

bool IsAggregate(Func func);

// Evaluates a scalar function call; throws dbe::Error(call.error_code) for
// an aggregate.
Value CallFunction(const Node& call, const RowAccess& row);

}  // namespace dbe::expr

#endif  // KX8_ENGINE_EXPR_FUNCTIONS_H_
