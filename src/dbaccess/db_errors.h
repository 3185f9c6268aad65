// The exceptions of the database access layer.
//
//   DbError            message only; connection-level failures (disconnect)
//   EDbEngineError     a failed engine call or a failure found by the layer:
//                      message, engine error number, native SQL error number
//                      and, when raised for a dataset, that dataset's names
//   DbConnectionError  the layer's fixed connection texts (number 5121)
//   DbSettingsError    an invalid server-type setting
//
// All of them derive from DbError, whose what() is the message text.
#ifndef KX8_DBACCESS_DB_ERRORS_H_
#define KX8_DBACCESS_DB_ERRORS_H_

#include <cstdint>
#include <stdexcept>
#include <string>

namespace kx8::dbaccess {

// The number that errors found by the layer itself carry.
inline constexpr std::uint32_t kLayerErrorNumber = 5121;

class DbError : public std::runtime_error {
 public:
  explicit DbError(const std::string& message) : std::runtime_error(message) {}
  std::string Message() const { return what(); }
};

// What a dataset error names besides its text.
struct TDbErrorSource {
  std::string DataSetName;
  std::string OwnerName;
  std::string DatabaseName;
  std::string DataFolder;
  std::string TableName;
};

class EDbEngineError : public DbError {
 public:
  EDbEngineError(const std::string& message, std::uint32_t error_code, std::int32_t native_error = 0,
                 TDbErrorSource source = {}, std::string column_name = {})
      : DbError(message),
        error_code_(error_code),
        native_error_(native_error),
        source_(std::move(source)),
        column_name_(std::move(column_name)) {}

  std::uint32_t ErrorCode() const { return error_code_; }   // the engine's number, 5121 for the layer's own
  std::int32_t NativeError() const { return native_error_; }  // from "NativeError = N;" of SQL errors, else 0
  const std::string& DataSetName() const { return source_.DataSetName; }
  const std::string& OwnerName() const { return source_.OwnerName; }
  const std::string& DatabaseName() const { return source_.DatabaseName; }
  const std::string& DataFolder() const { return source_.DataFolder; }
  const std::string& TableName() const { return source_.TableName; }
  const std::string& ColumnName() const { return column_name_; }  // for engine errors 5147 to 5149

 private:
  std::uint32_t error_code_;
  std::int32_t native_error_;
  TDbErrorSource source_;
  std::string column_name_;
};

class DbConnectionError : public EDbEngineError {
 public:
  explicit DbConnectionError(const std::string& message) : EDbEngineError(message, kLayerErrorNumber) {}
};

class DbSettingsError : public DbError {
 public:
  explicit DbSettingsError(const std::string& message) : DbError(message) {}
};

}  // namespace kx8::dbaccess

#endif  // KX8_DBACCESS_DB_ERRORS_H_
