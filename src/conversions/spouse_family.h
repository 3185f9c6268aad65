// The spouse family record: older releases kept the spouse's details on the
// employee master row (SPOUSE_NAME, SPOUSE_JOB_CODE, ...); the current
// release keeps them in a FAMILY row with RELATIONSHIP "SPOUSE". A step of
// the employee record pass.
#ifndef KX8_CONVERSIONS_SPOUSE_FAMILY_H_
#define KX8_CONVERSIONS_SPOUSE_FAMILY_H_

#include "dbaccess/db_table.h"

namespace kx8::conversions {

// For the current EMPLOYEE row, with FAMILY open in EMP_CODE,
// IC_PASSPORT_NUM order: nothing when SPOUSE_NAME is empty; otherwise the
// employee's spouse row is refreshed from the employee row, or added when
// there is none. An error leaves FAMILY with no pending row and goes on to
// the caller.
void CopySpouseToFamily(dbaccess::TDbTable& employee, dbaccess::TDbTable& family);

}  // namespace kx8::conversions

#endif  // KX8_CONVERSIONS_SPOUSE_FAMILY_H_
