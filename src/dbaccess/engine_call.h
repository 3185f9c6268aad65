// Inside the access layer only: turning engine results into exceptions, and
// the small text routines the layer's units share.
#ifndef KX8_DBACCESS_ENGINE_CALL_H_
#define KX8_DBACCESS_ENGINE_CALL_H_

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dbaccess/db_errors.h"

namespace kx8::dbaccess {
class TDbDataSet;
// The names an error raised for the dataset carries.
TDbErrorSource SourceOfDataSet(const TDbDataSet& ds);
}  // namespace kx8::dbaccess

namespace kx8::dbaccess::internal {

// The error for a failed engine call (result rc), built from the engine's
// last error: the dataset's name and ": " before the engine's text when the
// dataset has a name, the native SQL error number of "ERROR 7200:" texts
// and the column name of errors 5147 to 5149. Empty while another error is
// being built on this thread, so that building one error never raises
// another.
std::optional<EDbEngineError> EngineError(std::uint32_t rc, const TDbDataSet* ds = nullptr);

// Raises EngineError(rc) when rc is not 0 and not one of the results that
// are not errors here.
void Check(std::uint32_t rc, const TDbDataSet* ds = nullptr, std::initializer_list<std::uint32_t> not_errors = {});

// An error found by the layer itself (number 5121).
[[noreturn]] void RaiseLayerError(const std::string& text, const TDbDataSet* ds = nullptr);

// The engine's last error text and number; false when the engine gives none.
bool LastEngineError(std::uint32_t* code, std::string* text);

TDbErrorSource SourceOf(const TDbDataSet* ds);

// --- texts -------------------------------------------------------------------
std::string Upper(std::string_view s);
bool SameText(std::string_view a, std::string_view b);  // without regard to ASCII case
std::string Trim(std::string_view s);
std::string TrimRight(std::string_view s);
// Key fields of an index expression or a field list: split at ";" and "+",
// each trimmed, empty pieces dropped.
std::vector<std::string> SplitFields(std::string_view list);

}  // namespace kx8::dbaccess::internal

#endif  // KX8_DBACCESS_ENGINE_CALL_H_
