// The savings bank accounts once paid under the bank codes "9812" and
// "POSB" are paid under bank "7171", branch "081": the bank list gets that
// branch, and every such account of EMPLOYEE and EMP_BNK moves to it. A
// six-character account number becomes the old branch code followed by it.
#ifndef KX8_CONVERSIONS_BANK_CODES_H_
#define KX8_CONVERSIONS_BANK_CODES_H_

#include <string>

#include "schema/context.h"

namespace kx8::conversions {

inline constexpr char kSavingsBankId[] = "7171";
inline constexpr char kSavingsBankBranch[] = "081";
inline constexpr char kSavingsBankName[] = "DBS BANK";

// The account number an old savings bank account gets under bank 7171.
std::string MovedAccountNumber(const std::string& branch, const std::string& account);

// Moves the accounts. EMP_BNK keeps each employee's accounts under a unique
// key of bank and account number, so an employee holding the same account
// under both old codes (or under an old code and 7171 already) cannot have
// both moved: when the check made before anything changes finds such an
// account, a message names the employee and the account, and the company's
// bank data is left as it is.
void MigrateBankCodes(schema::UpgradeContext& ctx);

}  // namespace kx8::conversions

#endif  // KX8_CONVERSIONS_BANK_CODES_H_
