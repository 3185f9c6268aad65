// The supervisor entry: active supervisors (IS_EPF_OLD "T", no termination
// date) are registered in the supervisor table SUPVRTBL, which lives in the
// root folder's "SHARE_FOLDER" and is common to all companies, and in the
// company's setup table SETUP.
#ifndef KX8_CONVERSIONS_SUPERVISOR_TABLE_H_
#define KX8_CONVERSIONS_SUPERVISOR_TABLE_H_

#include "dbaccess/db_connection.h"
#include "schema/context.h"

namespace kx8::conversions {

// Walks EMPLOYEE of the current company and takes the supervisor entry of
// every employee. shared_folder is the connection of the shared folder: it
// is disconnected, pointed at root folder + "\SHARE_FOLDER\" and left
// connected there. An error of one employee's entry is shown with its own
// text and the walk goes on; an error opening the tables goes on to the
// caller.
void ConvertSupervisorTable(schema::UpgradeContext& ctx, dbaccess::TDbConnection& shared_folder);

}  // namespace kx8::conversions

#endif  // KX8_CONVERSIONS_SUPERVISOR_TABLE_H_
