// Adjustments of the report field catalogue RTABLE and of the custom
// reports that refer to it:
//
//   - the catalogue corrections of every pass: six entries get their code
//     column, width or wage flag put right;
//   - the allowance column rearrangement ("Rearrange Custom Report"): the
//     allowance entries ("ALLW") are numbered again from 1500 upward, one
//     number per allowance code, ALLOWNCE.TRNNO and TRNNO.TRNNO follow, and
//     every custom report column (RTPDETL.COL) is linked to its entry again.
#ifndef KX8_CONVERSIONS_REPORT_ADJUSTMENTS_H_
#define KX8_CONVERSIONS_REPORT_ADJUSTMENTS_H_

#include "dbaccess/db_table.h"
#include "schema/context.h"

namespace kx8::conversions {

// The first allowance entry's number.
inline constexpr int kFirstAllowanceNumber = 1500;
// Shown, after the name of what is missing, when the rearrangement cannot
// rebuild the entries it would delete.
inline constexpr char kRearrangeNotDone[] = " not found: the custom reports were not rearranged.";
// Shown, after the entry's number, when a number the allowances would take
// belongs to another entry.
inline constexpr char kRearrangeNumberTaken[] =
    " is not an allowance entry: the custom reports were not rearranged.";

// Corrects entries 30, 51, 57, 69 (their code column), 140 (width 30) and
// 9 (a wage figure, TYPE1 "N", HIDE_WAGE "T") where they exist, through the
// work table; never adds an entry. The work table is left closed without an
// order. A company without RTABLE raises.
void CatalogueCorrections(schema::UpgradeContext& ctx);

// The rearrangement, on the main window's TableRtable (see
// schema::SetUpTableRtable). Everything it needs is checked before the first
// entry is deleted: the tables ALLOWNCE, TRNNO (with its row) and RTPDETL
// with the columns used, and that no entry other than an allowance holds a
// number the allowances will take. When something is missing, a message
// names it and nothing is changed. Running it twice gives the same numbers.
void RearrangeAllowanceColumns(schema::UpgradeContext& ctx, dbaccess::TDbTable& rtable);

}  // namespace kx8::conversions

#endif  // KX8_CONVERSIONS_REPORT_ADJUSTMENTS_H_
