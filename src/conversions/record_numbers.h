// Record numbers for rows written before their tables had an ID: each row
// whose ID is 0 takes the next number of its counter in TRNNO, the same
// counters the application numbers new rows with.
//
//   - appraisals (APPR, counter auto6), on every run: an appraisal keeps the
//     number it has, and its detail rows in APPRDTL (same employee and
//     appraisal date) take the appraisal's number;
//   - education records (EDUCATE, counter AUTO1), option CheckBoxEducate.
//
// Numbers are written whole. A number that its column cannot hold stops the
// conversion with a message naming the table and the number before it is
// taken or written, so two records never share a number; the numbers given
// before stay in the rows and in TRNNO.
#ifndef KX8_CONVERSIONS_RECORD_NUMBERS_H_
#define KX8_CONVERSIONS_RECORD_NUMBERS_H_

#include "schema/context.h"

namespace kx8::conversions {

void NumberAppraisals(schema::UpgradeContext& ctx);

void NumberEducationRecords(schema::UpgradeContext& ctx);

}  // namespace kx8::conversions

#endif  // KX8_CONVERSIONS_RECORD_NUMBERS_H_
