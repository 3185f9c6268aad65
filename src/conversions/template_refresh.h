// The template refreshes: a release ships template tables (bank disk
// formats, general-ledger settings, report-writer catalogues) in zip
// archives beside the company folders, and these steps replace a company's
// copies with the archive's.
//
// - The release refresh takes UPDATETBL, OUTDSK_D, OUTDSK_H, GTABLE, GLOCHG,
//   SETCODE, GLPARA, OUTGL_D, CHECKCODE, PASSDEF and PUBLIC from
//   "UPDATEKX8.ZIP" on every pass.
// - The report-writer refresh takes RBFIELD, RBTABLE and RBJOIN (a
//   free-table company: every file) from "RPTDATA.ZIP" when asked.
//
// A dictionary-bound company's tables leave the dictionary while their
// files are replaced. What puts each back is recorded in the company folder
// before it leaves (schema/detach_record.h), and whatever fails on the way,
// every table taken out is put back, with the standard rights, before the
// failure goes on; a killed process leaves them to the next connect.
#ifndef KX8_CONVERSIONS_TEMPLATE_REFRESH_H_
#define KX8_CONVERSIONS_TEMPLATE_REFRESH_H_

#include <span>
#include <string>

#include "platform/zip_archive.h"
#include "schema/context.h"

namespace kx8::conversions {

inline constexpr char kReportArchive[] = "RPTDATA.ZIP";

// The release refresh's tables, in the order they are taken out.
std::span<const char* const> ReleaseTemplateTables();

// Does nothing when `archive_name` is not in the archive folder. A failure
// while taking tables out is shown as its text + " " + the table's name and
// goes on to the caller once every table is back; a failure to extract or
// to put a table back goes on after every table and grant was attempted.
// The company connection is connected and the register on the company's row
// afterwards, also on failure.
void ReleaseTemplateRefresh(schema::UpgradeContext& ctx, platform::TZipArchive& zip, const std::string& archive_name);

// Without "RPTDATA.ZIP" in the archive folder, shows its path +
// " not existed in directory " and does nothing. RBFIELD and RBTABLE end
// encrypted (by the dictionary, or with the administrator password on free
// tables); RBJOIN stays unencrypted, and is back in the dictionary with the
// standard rights. Failures as for the release refresh.
void ReportWriterRefresh(schema::UpgradeContext& ctx, platform::TZipArchive& zip);

}  // namespace kx8::conversions

#endif  // KX8_CONVERSIONS_TEMPLATE_REFRESH_H_
