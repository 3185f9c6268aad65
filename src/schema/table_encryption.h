// Encryption of free tables around changes that need them in the clear.
//
// A free table of an encrypted kind is decrypted only for as long as a
// change needs it. Whatever ends that change early, the table is stored
// encrypted again before the error goes on: a failed pass must never leave
// payroll data in the clear on disk, where later passes would not look for
// it.
#ifndef KX8_SCHEMA_TABLE_ENCRYPTION_H_
#define KX8_SCHEMA_TABLE_ENCRYPTION_H_

#include <string>

#include "schema/context.h"

namespace kx8::schema {

// Opens the free table exclusively in the work table and encrypts it with
// the administrator password unless it is stored encrypted already; closes
// it. Raises what the engine raises.
void EncryptFreeTable(UpgradeContext& ctx, const std::string& table);

// Records that a step decrypted a free table that a later step of the same
// column run encrypts again, and that it did so.
void NoteDecryptedForChange(UpgradeContext& ctx, const std::string& table);
void NoteEncryptedAgain(UpgradeContext& ctx, const std::string& table);

// After an error that ends a column run: encrypts every table still noted
// as decrypted for a change, and forgets them. A table that cannot be
// encrypted is named in a message; the original error is the one that goes
// on, so this never raises.
void EncryptAgainAfterFailure(UpgradeContext& ctx);

}  // namespace kx8::schema

#endif  // KX8_SCHEMA_TABLE_ENCRYPTION_H_
