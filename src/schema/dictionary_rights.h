// Dictionary membership and the standard rights of a company's tables.
#ifndef KX8_SCHEMA_DICTIONARY_RIGHTS_H_
#define KX8_SCHEMA_DICTIONARY_RIGHTS_H_

#include <string>

#include "schema/context.h"

namespace kx8::schema {

// On the connected dictionary component.
bool TableInDictionary(UpgradeContext& ctx, const std::string& table);
bool DictionaryUserExists(UpgradeContext& ctx, const std::string& user);
// Creates the support user when the dictionary lacks it, grants the four
// standard rights on the table and switches its automatic creation on, on
// the connected dictionary component; raises the first failure.
void GrantStandardRights(UpgradeContext& ctx, const std::string& table);
// True when the table's rights are exactly what GrantStandardRights gives
// a table that had none: the four standard rights and nothing for any other
// user. On the connected dictionary component; raises when it cannot tell.
bool HasOnlyStandardRights(UpgradeContext& ctx, const std::string& table);
// GrantStandardRights with every failure absorbed. With reconnect the dictionary component is connected
// here and the company connection and register row are restored after.
void GrantTableRights(UpgradeContext& ctx, const std::string& table, bool reconnect);
void RebuildAllRights(UpgradeContext& ctx);
// Re-registers dictionary names that still end in ".KDT" without it.
void NormaliseTableNames(UpgradeContext& ctx);

}  // namespace kx8::schema

#endif  // KX8_SCHEMA_DICTIONARY_RIGHTS_H_
