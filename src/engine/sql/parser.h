// Parser of the SQL dialect: one statement text in, one statement tree
// (sql/ast.h) out. Expressions inside statements are read by the expression
// parser (expr/parser.h), which this parser drives as its token cursor.
//
// Errors. Every failure of a statement is engine error 7200 (DBE_SQL_ERROR)
// with a text of the form
//   Error 7200: <what is wrong>. NativeError = <n>;
// where the parser's texts end with " at position N" (1-based byte position
// in the statement text). The native number tells the kind of failure:
//
//   2100-2129  the parser (this file)
//     2115     syntax error: a token that does not fit, a missing or
//              unterminated part, an unknown statement, type name or
//              function, a subquery, an ALTER TABLE without a clause
//     2116     statement too complex: expressions nested too deeply
//   2130-2199  the executors (sql/exec.h holds the constants)
//     2130     duplicate column
//     2140     type mismatch: a value or column type that does not fit
//     2150     not supported by the executor
//     2160     ambiguous column name
//     2170     empty table where a row is needed
//   engine numbers, when the engine refused what the statement asked:
//     5041 unknown table, 5147 unknown column, 5057 duplicate key,
//     5050 password needed, ... (docs/errors.md)
//
// The dialect is the one the program sends:
//   ALTER TABLE t clause [, | line break] clause ...
//     clause: ADD [COLUMN] c type | ALTER [COLUMN] c [new_name] type
//           | DROP [COLUMN] c
//   CREATE [UNIQUE] INDEX name ON t (c, ...)      DROP INDEX t.name
//   SELECT [DISTINCT] item, ... FROM t [[AS] alias], ... [WHERE e]
//     [GROUP BY e, ...] [HAVING e] [ORDER BY e [ASC|DESC], ...]
//     item: * | t.* | e [[AS] alias]
//   UPDATE t SET c = e, ... [FROM t2, ...] [WHERE e]
//   DELETE FROM t [WHERE e]
//   INSERT INTO t [(c, ...)] VALUES (e, ...), ... | INSERT INTO t [(c, ...)] SELECT ...
//   CREATE TABLE t (c type, ...)                  DROP TABLE t
//   CREATE PROCEDURE name( params ) FUNCTION fn IN LIBRARY "path"
// followed by an optional ";". Keywords and names in any letter case; names
// plain, "double-quoted" or [bracketed]. Outside the places where a keyword
// is expected every word is a name, so CURRENT, DESC, DATE, USER, YEAR,
// OPTION, LOCK, FROM, TO, TYPE ... name columns and tables.
//
// Types (any case): char(n)/character(n) 4, cichar(n) 20, varchar(n) 8,
// numeric(n[,d]) 2, date 3, shortdate 9, logical 1, memo 5, blob/binary 6,
// image 7, double[(d)] 10, integer/int 11, shortint/smallint 12, time 13,
// timestamp 14, autoinc 15, raw(n) 16, curdouble 17, money 18, rowversion 21,
// modtime 22 (the DBE_FT_* numbers of dbe.h).
#ifndef KX8_ENGINE_SQL_PARSER_H_
#define KX8_ENGINE_SQL_PARSER_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "sql/ast.h"

namespace dbe::sql {

// Native error numbers of the parser (see above).
constexpr uint32_t kNativeSyntaxError = 2115;
constexpr uint32_t kNativeTooComplex = 2116;

// Parses one statement; a trailing ";" is allowed. Throws dbe::Error with
// code DBE_SQL_ERROR and a text as described above.
Statement ParseStatement(std::string_view text);

// The text of an SQL error: "Error 7200: " + message + ". NativeError = n;"
// (no second full stop when the message ends with one).
std::string FormatSqlError(std::string_view message, uint32_t native);

}  // namespace dbe::sql

#endif  // KX8_ENGINE_SQL_PARSER_H_
