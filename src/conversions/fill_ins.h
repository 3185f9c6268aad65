// The small statements of a company pass that give columns added by this
// or an earlier release a value in existing rows: year-to-date original
// wages, payroll bank amounts, report item ids, training departments and
// claim types. Only empty values are filled, so a second pass fills
// nothing. Also the claim scheme index that the claims module needs, and
// the removal of query rows without a code.
//
// Each runs at its own place of the pass; those with an error block show
// the failure and let the pass go on, the others pass it on.
#ifndef KX8_CONVERSIONS_FILL_INS_H_
#define KX8_CONVERSIONS_FILL_INS_H_

#include "dbaccess/db_query.h"
#include "schema/context.h"

namespace kx8::conversions {

inline constexpr char kFillYtdEmplSql[] =
    "UPDATE YTDEMPL SET ORI_OWWAGE=CPFOWWAGE,ORI_AWWAGE=CPFAWWAGE  WHERE ORI_OWWAGE IS NULL";
inline constexpr char kFillYtdEmplFailed[] = "Update YTDEMPL Function ";
inline constexpr char kFillBankAmountSql[] = "UPDATE P_htrx SET BANKAMT = nett_wage WHERE BANKAMT IS NULL";
inline constexpr char kFillRbItemSql[] = "UPDATE \"RBITEM.KDT\" SET ID = ItemId WHERE ID IS NULL";
inline constexpr char kFillTrainingSql[] = "UPDATE TRAINING SET DEPARTMENT = :DEPART WHERE DEPARTMENT IS NULL";
inline constexpr char kMedschIndexFields[] = "SCHEME_CODE;CLAIM_CODE;SUBCLAIM;CLAIMTYPE";
inline constexpr char kMedschIndexSql[] =
    "Create Index \"  SCHEME_CODE2\" on MEDSCH(SCHEME_CODE,CLAIM_CODE,SUBCLAIM,CLAIMTYPE )";
inline constexpr char kQueryCleanupSql[] = "DELETE FROM QUERY WHERE CODE IS NULL";

// YTDEMPL ORI_OWWAGE and ORI_AWWAGE from CPFOWWAGE and CPFAWWAGE. A failure
// shows "Update YTDEMPL Function " and the error's text.
void FillYtdEmpl(schema::UpgradeContext& ctx);

// P_HTRX BANKAMT from NETT_WAGE, for databases of release 8.90 or older
// (the caller's gate). A failure goes on to the caller.
void FillPHtrxBankAmount(schema::UpgradeContext& ctx);

// RBITEM ID from ITEMID. A failure shows the error's text.
void FillRbItem(schema::UpgradeContext& ctx);

// TRAINING DEPARTMENT "NONE". A failure shows the error's text.
void FillTrainingDepartment(schema::UpgradeContext& ctx);

// MEDSCH CLAIMTYPE "0" where it is empty, row by row on the work table.
// A failure shows the table's name, a blank and the error's text.
void FillMedschClaimType(schema::UpgradeContext& ctx);

// The index "  SCHEME_CODE2" (two leading blanks) on MEDSCH, through the
// index query, unless the table has an index on those fields already,
// under whatever name. Every failure is ignored: the claims module works
// without it, only slower.
void AddMedschIndex(schema::UpgradeContext& ctx, dbaccess::TDbQuery& index_query);

// Removes the QUERY rows without a code, through the clean-up query. A
// failure goes on to the caller.
void QueryCleanup(dbaccess::TDbQuery& cleanup_query);

}  // namespace kx8::conversions

#endif  // KX8_CONVERSIONS_FILL_INS_H_
