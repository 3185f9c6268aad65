// The column upgrade primitive: one column specification (table, column,
// type code, size, encrypted flag) becomes one ALTER TABLE statement when
// the table lacks the column or has it in the wrong form. On dictionary-bound
// companies the table leaves the dictionary for the change and comes back
// with its encryption, automatic creation and standard rights.
#ifndef KX8_SCHEMA_COLUMN_UPGRADE_H_
#define KX8_SCHEMA_COLUMN_UPGRADE_H_

#include <optional>
#include <string>

#include "schema/context.h"

namespace kx8::schema {

// The clause for a type code: on the add path (the table lacks the column,
// or it is an auto-increment NO or ID) or the change path ("AS" and "IC" on
// an existing column). None where the code has no clause on that path.
std::optional<std::string> AddClause(const std::string& code, const std::string& column, const std::string& size);
std::string ChangeClause(const std::string& code, const std::string& column, const std::string& size);

void UpgradeColumn(UpgradeContext& ctx, const std::string& table, const std::string& column, const std::string& code,
                   const std::string& size, bool encrypted);

// Dictionary side of a change (dictionary-bound companies).
bool DetachTable(UpgradeContext& ctx, const std::string& table, bool encrypted);
void AttachTable(UpgradeContext& ctx, const std::string& table, bool encrypted);
void DecryptDictionaryTable(UpgradeContext& ctx, const std::string& table);
void EnsureDictionaryTable(UpgradeContext& ctx, const std::string& table, bool encrypted);

// "EMPLOYEE", "EMP_PROS" and "P_HTRX", compared exactly.
bool AlwaysEncryptedTable(const std::string& table);

}  // namespace kx8::schema

#endif  // KX8_SCHEMA_COLUMN_UPGRADE_H_
