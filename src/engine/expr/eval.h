// Binding and evaluation of expressions over rows.
//
// Bind() resolves every column of a tree once; Evaluate() then runs per row
// without looking names up again.
//
// Semantics:
//  - Three-valued logic: a comparison with NULL is NULL; NOT NULL is NULL;
//    FALSE AND NULL is FALSE, TRUE OR NULL is TRUE, otherwise AND/OR with a
//    NULL is NULL. A filter keeps a row only when its value IsTrue().
//  - Empty character values are NULL (rows deliver them so). A character
//    value that is empty or all blanks on either side of a comparison is the
//    empty value instead: it equals NULL and sorts before every other value.
//    So X = '' is true exactly when X is empty, X <> '' when it is not.
//  - Character comparisons ignore trailing blanks and letter case matters.
//    LIKE too: % matches any run of characters, _ one character.
//  - Int, Double and Money compare and compute together. Int op Int stays
//    Int (overflow gives a Double; "/" divides whole numbers, truncating
//    towards zero). Money + - * with Int or Money is exact; Money / Int and
//    any Money op Double give Money rounded half away from zero to four
//    decimals, the Double taken as the shortest decimal that reads back as
//    it (so 1.1 is exactly 1.1). Money / Money is a Double. A Money result
//    that does not fit is an error.
//  - Division or remainder by zero gives NULL.
//  - "+" on two character values, and "||" on any, concatenates; a NULL
//    beside a character value counts as empty there.
//  - A character value compared with a number, date, time, timestamp or
//    logical value is read as one (a literal is read once, when it is made);
//    a text that does not read as a date, time or logical value makes the
//    comparison NULL, one that does not read as a number is compared as
//    text with the number's text form.
//  - Date + Int and Date - Int move by days; Date - Date is a number of days.
//  - Logical values compare with logical values, with numbers (0 and 1) and
//    with the texts T/F, Y/N, TRUE/FALSE, 1/0.
// Errors while evaluating (incompatible types, an aggregate function, money
// overflow) throw dbe::Error with the code the tree was parsed or bound with.
#ifndef KX8_ENGINE_EXPR_EVAL_H_
#define KX8_ENGINE_EXPR_EVAL_H_

#include <cstdint>
#include <string_view>

#include "core/value.h"
#include "expr/ast.h"

namespace dbe::expr {

// Maps column names to ids. Names are matched without regard to letter
// case; `qualifier` is empty for an unqualified name.
class ColumnResolver {
 public:
  virtual ~ColumnResolver();
  // An id >= 0, or -1 when there is no such column.
  virtual int Resolve(std::string_view qualifier, std::string_view name) const = 0;
};

// The row an expression is evaluated over.
class RowAccess {
 public:
  virtual ~RowAccess();
  virtual Value Column(int id) const = 0;
  // The value of parameter `index` (Node::param_index); NULL unless
  // overridden.
  virtual Value Param(int index) const;
};

// Resolves every column of the tree; an unknown one throws
// dbe::Error(error_code, "Column not found: column \"NAME\""). Errors raised
// later while evaluating the tree carry error_code too.
void Bind(Node& node, const ColumnResolver& resolver, uint32_t error_code);

Value Evaluate(const Node& node, const RowAccess& row);

// True for a logical true, a number other than zero and a text that reads
// as a true logical value (T, Y, TRUE, 1), as inside AND/OR/NOT; NULL and
// everything else are not true.
bool IsTrue(const Value& value);

}  // namespace dbe::expr

#endif  // KX8_ENGINE_EXPR_EVAL_H_
