// Demo rows that show what the claim setup conversion, the record number
// back-fill and the occupation and relation codes do, added to a company
// folder once its tables are built (before a dictionary binds them):
//
//   - MEDTABLE gets eleven tiers for specialist claims of management, one
//     more than the claim setup keeps, and management has a benefit scheme
//     code of the old setup;
//   - where APPR has its ID already (the company at the release), the first
//     employee has an appraisal numbered 70000 with detail rows numbered 0
//     and 12, and the appraisal counter stands at 65534, so that the
//     numbers given pass 65,535;
//   - the first employee has a child without an occupation.
#ifndef KX8_TOOLS_DEMO_CLAIMS_H_
#define KX8_TOOLS_DEMO_CLAIMS_H_

#include "dbaccess/db_connection.h"
#include "tools/demo_builder.h"

namespace kx8::tools {

// `c` is connected to the company folder.
void AddClaimAndRecordRows(dbaccess::TDbConnection& c, const DemoOptions& options);

}  // namespace kx8::tools

#endif  // KX8_TOOLS_DEMO_CLAIMS_H_
