// Every text the database access layer raises or shows, in one place.
// They are the system's own words: blanks and punctuation are part of them.
#ifndef KX8_DBACCESS_DB_MESSAGES_H_
#define KX8_DBACCESS_DB_MESSAGES_H_

namespace kx8::dbaccess::msg {

// --- Connections -----------------------------------------------------------
inline constexpr char kConnectPathLocked[] =
    "The TDbConnection.ConnectPath may not be changed when IsConnected is TRUE";
inline constexpr char kNoConnectString[] = "Must specify connection string before getting a server connection.";
inline constexpr char kConnectionLocal[] = "Local";
inline constexpr char kConnectionRemote[] = "Remote";
inline constexpr char kConnectionInternet[] = "Internet";
inline constexpr char kNoServerType[] = "At least one server type must be selected.";

// --- Tables and datasets -----------------------------------------------------
inline constexpr char kDataSetOpen[] = "Cannot perform this operation on an open dataset";
inline constexpr char kDataSetClosed[] = "Cannot perform this operation on a closed dataset";
inline constexpr char kMissingTableName[] = "Missing TableName property";
inline constexpr char kNoConnection[] =
    "One of the DatabaseName property or the DbConnection property must have a value.";
inline constexpr char kNotSupportedFieldType[] = " is not a supported field type.";  // after the type's name
inline constexpr char kUnknownFieldTypeBefore[] = "Unknown field type (";
inline constexpr char kUnknownFieldTypeAfter[] = ") encountered.";
inline constexpr char kNotValidIndexFieldName[] = "Not a valid index field name:";  // the names follow directly
inline constexpr char kStaticView[] = "This table is based on a static VIEW. Static VIEWs can not be updated.";
inline constexpr char kNotEditing[] = "Dataset not in edit or insert mode";
inline constexpr char kNoActiveIndex[] = "No index currently active";
inline constexpr char kFieldNotFoundBefore[] = "Field '";
inline constexpr char kFieldNotFoundAfter[] = "' not found";
inline constexpr char kNotValidValueBefore[] = "'";
inline constexpr char kNotValidInteger[] = "' is not a valid integer value";
inline constexpr char kNotValidFloat[] = "' is not a valid floating point value";
inline constexpr char kNotValidDateTime[] = "' is not a valid date and time";
inline constexpr char kLocateValueCount[] = "The number of values does not match the number of fields";
inline constexpr char kDefaultIndex[] = "DB_DEFAULT";
inline constexpr char kComponentVersion[] = "8.10";
inline constexpr char kEngineVersionBefore[] = " (DBE ";
inline constexpr char kEngineVersionAfter[] = ")";

// --- SQL statements --------------------------------------------------------
inline constexpr char kNoCursor[] =
    "The SQL statement did not generate a cursor handle.  Use TDbQuery.ExecSQL to execute SQL statements that are "
    "not SELECT statements";
inline constexpr char kInvalidConnectionHandle[] = "Internal Error: invalid connection handle.";
inline constexpr char kNoDatabaseName[] = "The DatabaseName property has not been assigned a value.";
inline constexpr char kParamFieldNamed[] = "The field named: '";
inline constexpr char kParamTypeUnknown[] = "' has the DataType of ftUnknown, which is invalid.";
inline constexpr char kParamTypeNotSupported[] = "' has a DataType that is not supported.";
inline constexpr char kParamNotFoundBefore[] = "Parameter '";
inline constexpr char kParamNotFoundAfter[] = "' not found";

// --- Data dictionaries -----------------------------------------------------
inline constexpr char kDictConnectPathLocked[] =
    "The TDbDictionary.ConnectPath may not be changed when IsConnected is TRUE";
inline constexpr char kDictNoConnectString[] = "A connection string must be specified prior to connecting.";
inline constexpr char kDictPathInvalid[] = "The Data Dictionary path was invalid.";

// --- Engine errors -----------------------------------------------------------
// The text used when the engine gives none.
inline constexpr char kDbExceptionError[] = "Db Exception Error";
// Between a dataset's name and the engine's text.
inline constexpr char kNameSeparator[] = ": ";
// Markers read in the engine's texts (the first two in upper case).
inline constexpr char kSqlErrorMarker[] = "ERROR 7200:";
inline constexpr char kNativeErrorMarker[] = "NATIVEERROR = ";
inline constexpr char kStaleStatementMarker[] = "7209";
inline constexpr char kColumnMarker[] = "column \"";

}  // namespace kx8::dbaccess::msg

#endif  // KX8_DBACCESS_DB_MESSAGES_H_
