#include "dbaccess/engine_call.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "dbaccess/db_connection.h"
#include "dbaccess/db_dataset.h"
#include "dbaccess/db_messages.h"
#include "dbe/dbe.h"

namespace kx8::dbaccess {

TDbErrorSource SourceOfDataSet(const TDbDataSet& ds) {
  TDbErrorSource s;
  s.DataSetName = ds.Name();
  if (ds.Owner() != nullptr) s.OwnerName = ds.Owner()->Name();
  s.DatabaseName = ds.DatabaseName();
  if (ds.DbConnection() != nullptr) s.DataFolder = ds.DbConnection()->DataFolder();
  s.TableName = ds.ErrorTableName();
  return s;
}

namespace internal {

namespace {

// Set while an error is being built on this thread.
thread_local bool t_building_error = false;

class BuildingError {
 public:
  BuildingError() { t_building_error = true; }
  ~BuildingError() { t_building_error = false; }
  BuildingError(const BuildingError&) = delete;
  BuildingError& operator=(const BuildingError&) = delete;
};

// The number after "NATIVEERROR = " up to the next ";" of a SQL error text.
std::int32_t NativeErrorOf(const std::string& text) {
  std::string upper = Upper(text);
  if (upper.find(msg::kSqlErrorMarker) == std::string::npos) return 0;
  std::size_t at = upper.find(msg::kNativeErrorMarker);
  if (at == std::string::npos) return 0;
  at += std::strlen(msg::kNativeErrorMarker);
  std::size_t end = upper.find(';', at);
  std::string number = Trim(std::string_view(upper).substr(at, end == std::string::npos ? end : end - at));
  std::int32_t n = 0;
  auto r = std::from_chars(number.data(), number.data() + number.size(), n);
  return r.ec == std::errc() ? n : 0;
}

// The text after `column "` up to the next double quote.
std::string ColumnNameOf(const std::string& text) {
  std::string upper = Upper(text);
  std::string marker = Upper(msg::kColumnMarker);
  std::size_t at = upper.find(marker);
  if (at == std::string::npos) return {};
  at += marker.size();
  std::size_t end = text.find('"', at);
  if (end == std::string::npos) return {};
  return text.substr(at, end - at);
}

}  // namespace

bool LastEngineError(std::uint32_t* code, std::string* text) {
  char buf[DBE_MAX_ERROR_LEN + 1] = {};
  std::uint16_t len = sizeof buf;
  std::uint32_t number = 0;
  if (DbGetLastError(&number, buf, &len) != DBE_SUCCESS) return false;
  *code = number;
  *text = std::string(buf, std::min<std::size_t>(len, DBE_MAX_ERROR_LEN));
  return !text->empty();
}

TDbErrorSource SourceOf(const TDbDataSet* ds) { return ds == nullptr ? TDbErrorSource{} : SourceOfDataSet(*ds); }

std::optional<EDbEngineError> EngineError(std::uint32_t rc, const TDbDataSet* ds) {
  if (t_building_error) return std::nullopt;
  BuildingError building;
  std::uint32_t code = 0;
  std::string text;
  if (!LastEngineError(&code, &text)) text = msg::kDbExceptionError;
  if (code == 0) code = rc;
  TDbErrorSource source = SourceOf(ds);
  std::string message = source.DataSetName.empty() ? text : source.DataSetName + msg::kNameSeparator + text;
  std::string column;
  if (code >= DBE_COLUMN_NOT_FOUND && code <= DBE_COLUMN_TYPE) column = ColumnNameOf(text);
  return EDbEngineError(message, code, NativeErrorOf(text), std::move(source), std::move(column));
}

void Check(std::uint32_t rc, const TDbDataSet* ds, std::initializer_list<std::uint32_t> not_errors) {
  if (rc == DBE_SUCCESS) return;
  if (std::find(not_errors.begin(), not_errors.end(), rc) != not_errors.end()) return;
  std::optional<EDbEngineError> e = EngineError(rc, ds);
  if (e) throw *e;
}

void RaiseLayerError(const std::string& text, const TDbDataSet* ds) {
  throw EDbEngineError(text, kLayerErrorNumber, 0, SourceOf(ds));
}

std::string Upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

bool SameText(std::string_view a, std::string_view b) { return a.size() == b.size() && Upper(a) == Upper(b); }

std::string Trim(std::string_view s) {
  std::size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string_view::npos) return {};
  std::size_t e = s.find_last_not_of(" \t\r\n");
  return std::string(s.substr(b, e - b + 1));
}

std::string TrimRight(std::string_view s) {
  std::size_t e = s.find_last_not_of(' ');
  return e == std::string_view::npos ? std::string() : std::string(s.substr(0, e + 1));
}

std::vector<std::string> SplitFields(std::string_view list) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t end = list.find_first_of(";+", start);
    if (end == std::string_view::npos) end = list.size();
    std::string piece = Trim(list.substr(start, end - start));
    if (!piece.empty()) out.push_back(piece);
    start = end + 1;
  }
  return out;
}

}  // namespace internal
}  // namespace kx8::dbaccess
