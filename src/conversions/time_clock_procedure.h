// The stored procedure through which the leave module of a dictionary-bound
// company hands leave data to the time-sheet module: its library is taken
// from the update archive and the procedure registered in the company's
// dictionary.
#ifndef KX8_CONVERSIONS_TIME_CLOCK_PROCEDURE_H_
#define KX8_CONVERSIONS_TIME_CLOCK_PROCEDURE_H_

#include <string>

#include "conversions/update_archive.h"
#include "platform/zip_archive.h"
#include "schema/context.h"

namespace kx8::conversions {

inline constexpr char kTimeClockProcedure[] = "rUzevUroda";
inline constexpr char kTimeClockFunction[] = "ProcessTiming";
inline constexpr char kTimeClockLibrary[] = "rUzevUroda.kep";
inline constexpr char kTimeClockLibraryPath[] = "...\\rUzevUroda.kep";
// Every parameter is followed by "*".
inline constexpr char kTimeClockParameters[] =
    "company CHAR(255)*dd CHAR(2)*mm CHAR(2)*yy CHAR(4)*p_no CHAR(15)*emp_no CHAR(12)*err_no CHAR(12) OUTPUT*";

// "CREATE PROCEDURE rUzevUroda(  company CHAR(255) , dd CHAR(2) ... ) ..."
// as the registration sends it.
std::string TimeClockProcedureStatement();

// Extracts the library from `archive_name` in the archive folder (the root
// folder up to its last separator) into that folder, or shows the
// archive's path followed by " not existed in directory " when it is not
// there; then registers the procedure on the company connection. The
// registration's failure (a free-table company, a procedure registered
// already) goes on to the caller.
void RegisterTimeClockProcedure(schema::UpgradeContext& ctx, platform::TZipArchive& zip,
                                const std::string& archive_name);

}  // namespace kx8::conversions

#endif  // KX8_CONVERSIONS_TIME_CLOCK_PROCEDURE_H_
