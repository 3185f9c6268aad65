// The data steps between the column entries that a company below release
// 8.60 receives: the removal of the backup table files that restructuring
// EMPSERV and EMP_PROS leaves behind, the PAYPARA2 TYPE default, the check
// that restructuring EMP_PROS kept its salary total, the emptying of the
// report work table RP_HTRX, and the fill-ins of CODE and EMP_PROS columns.
//
// Each runs at its marked point of the column catalogue and works on the
// work table, the work query and the company connection of the context.
#ifndef KX8_CONVERSIONS_PRE860_STEPS_H_
#define KX8_CONVERSIONS_PRE860_STEPS_H_

#include <cstdint>

#include "dbaccess/db_query.h"
#include "schema/context.h"

namespace kx8::conversions {

inline constexpr char kEmpservBackupTable[] = "EMPSERV.KDT.BAK";
inline constexpr char kEmpProsBackupTable[] = "EMP_PROS.KDT.BAK";
inline constexpr char kSalaryTotalSql[] = "SELECT SUM(NEW_SALARY) AS NEW FROM \"EMP_PROS.KDT\"";
inline constexpr char kSalaryTotalChanged[] = "Data Intergity error in EMP_PROS.KDT found !";
inline constexpr char kFillMapFieldSql[] = "UPDATE \"CODE.KDT\" SET MAPFIELD = N1CLAIM WHERE MAPFIELD IS NULL";
inline constexpr char kFillLongDescSql[] = "UPDATE \"CODE.KDT\" SET LONG_DESC = \"DESC\" WHERE LONG_DESC IS NULL";
inline constexpr char kFillGradeSql[] = "UPDATE \"EMP_PROS.KDT\" SET GRADE =:GRADE  WHERE GRADE IS NULL";

// Deletes "EMPSERV.KDT.BAK" with its companions when the company folder
// holds it. The company connection is connected again afterwards.
void RemoveEmpservBackup(schema::UpgradeContext& ctx);

// Every PAYPARA2 row whose TYPE is empty gets "COM". Opens the work table
// as the column entry before it left it: closed, exclusive, named PAYPARA2.
void DefaultPaypara2Type(schema::UpgradeContext& ctx);

// The salary total of EMP_PROS in ten-thousandths, as a money value.
using SalaryTotal = std::int64_t;

// First half of the salary check, before EMP_PROS is restructured: reads
// the total through the salary query (whose before-open handler gives the
// statement the administrator password on a free-table company) and, on a
// free-table company, decrypts EMP_PROS so that the column changes can read it.
SalaryTotal TakeEmpProsSalaryTotal(schema::UpgradeContext& ctx, dbaccess::TDbQuery& salary_query);

// Second half: encrypts EMP_PROS again on a free-table company, shows
// "Data Intergity error in EMP_PROS.KDT found !" when the total differs
// from the one held (the pass goes on), and deletes "EMP_PROS.KDT.BAK".
void CheckEmpProsSalaryTotal(schema::UpgradeContext& ctx, dbaccess::TDbQuery& salary_query, SalaryTotal held);

// Removes every row of RP_HTRX.
void EmptyRpHtrx(schema::UpgradeContext& ctx);

// The three fill-in statements (CODE MAPFIELD from N1CLAIM, CODE LONG_DESC
// from DESC, EMP_PROS GRADE "NONE"), each touching null values only; a
// failing statement shows its error and the next one runs. Then the
// company connection is disconnected and connected again.
void FillCodeAndGradeColumns(schema::UpgradeContext& ctx);

}  // namespace kx8::conversions

#endif  // KX8_CONVERSIONS_PRE860_STEPS_H_
