// The codes that family members' occupations and emergency contact
// relations are checked against: every occupation a FAMILY row uses
// becomes a "SOU" code (with the description of the "OCU" code of the same
// value, empty when there is none; an empty occupation is a code like any
// other), every relation of an employee's emergency contact that is not
// empty becomes an "RE" code described by itself. Codes already there keep
// their descriptions; a second run adds nothing.
#ifndef KX8_CONVERSIONS_OCCUPATION_CODES_H_
#define KX8_CONVERSIONS_OCCUPATION_CODES_H_

#include "schema/context.h"

namespace kx8::conversions {

inline constexpr char kFamilyOccupationsSql[] = "SELECT DISTINCT OCCUPATION_CODE FROM FAMILY ";
inline constexpr char kContactRelationsSql[] = "SELECT DISTINCT EMG_CONTACT_RELATION FROM EMPLOYEE ";

// Reads through the work query; on a free-table company the statement
// gets the administrator password for EMPLOYEE, which the application
// keeps encrypted.
void ConvertOccupationCodes(schema::UpgradeContext& ctx);

}  // namespace kx8::conversions

#endif  // KX8_CONVERSIONS_OCCUPATION_CODES_H_
