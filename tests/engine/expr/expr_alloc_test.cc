// Filters run once per row over millions of rows: comparing a column with a
// literal must not touch the heap. This file counts every allocation of the
// test program while a switch is on.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "dbe/dbe.h"
#include "expr/convert.h"
#include "expr/eval.h"
#include "expr/lexer.h"
#include "expr/parser.h"

namespace {
bool g_counting = false;
long g_allocations = 0;
}  // namespace

void* operator new(std::size_t size) {
  if (g_counting) ++g_allocations;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace dbe::expr {
namespace {

// Short character values, as most key and code fields are.
class Row : public ColumnResolver, public RowAccess {
 public:
  int Resolve(std::string_view, std::string_view name) const override {
    for (size_t i = 0; i < kNames.size(); ++i) {
      if (EqualsNoCase(kNames[i], name)) return static_cast<int>(i);
    }
    return -1;
  }
  Value Column(int id) const override {
    switch (id) {
      case 0:
        return Value::String("ALLW");
      case 1:
        return Value::String("A001");
      case 2:
        return Value::Money(12345678);
      case 3:
        return Value::Null();
      case 4:
        return Value::Date(DayNumber(2012, 1, 31));
      case 5:
        return Value::Bool(true);
      case 6:
        return Value::String("20");
      case 7:
        return Value::Int(7);
      default:
        return Value::Double(1.5);
    }
  }

 private:
  const std::vector<std::string> kNames = {"DATABASE1", "EMP_NO", "SALARY", "X",   "HIRED",
                                           "FLAG",      "WIDTH",  "N",      "RATE"};
};

TEST(ExprAllocationTest, RowFiltersDoNotAllocate) {
  const Row row;
  for (const char* text : {
           "database1='ALLW'",
           "EMP_NO = 'A001' AND NOT (SALARY > 10000 OR X IS NOT NULL)",
           "SALARY >= 1234.5678 AND SALARY < 2000",
           "HIRED = '2012-01-31' OR HIRED > DATE '2012-01-01'",
           "FLAG = 'T' AND FLAG = TRUE",
           "WIDTH = 20 OR WIDTH = 30",
           "X = '' AND N BETWEEN 1 AND 10",
           "EMP_NO IN ('A000', 'A001', 'A002')",
           "EMP_NO LIKE 'A%1' AND NOT EMP_NO LIKE '%B%'",
           "RATE * 2 > N - 5 AND SALARY + 1 > 0",
       }) {
    NodePtr node = ParseExpression(text);
    Bind(*node, row, DBE_EXPRESSION_ERROR);
    ASSERT_TRUE(IsTrue(Evaluate(*node, row))) << text;
    g_allocations = 0;
    g_counting = true;
    bool all = true;
    for (int i = 0; i < 100; ++i) all = all && IsTrue(Evaluate(*node, row));
    g_counting = false;
    EXPECT_TRUE(all) << text;
    EXPECT_EQ(g_allocations, 0) << text;
  }
}

}  // namespace
}  // namespace dbe::expr
