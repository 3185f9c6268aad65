#include "dbaccess/db_dictionary.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

#include "dbaccess/db_connection.h"
#include "dbaccess/db_errors.h"
#include "dbaccess/db_messages.h"
#include "dbaccess/engine_call.h"
#include "dbe/dbe.h"

namespace kx8::dbaccess {

using internal::Check;

namespace {

std::uint32_t CommunicationBits(TDbCommunicationType type) {
  switch (type) {
    case ctDbUDPIP: return 32;
    case ctDbIPX: return 64;
    case ctDbTCPIP: return 128;
    case ctDbDefault: return 0;
  }
  return 0;
}

// Room for a name of DBE_DD_MAX_NAME characters and its terminator.
constexpr std::uint16_t kNameBuffer = DBE_DD_MAX_NAME + 1;

// A text the engine writes into a buffer, call(buffer, &length) giving the
// buffer's capacity and getting back the length written. A buffer too small
// is enlarged once to the length the engine asks for.
template <typename Call>
std::string ReadText(Call call) {
  std::vector<char> buf(kNameBuffer, '\0');
  auto len = static_cast<std::uint16_t>(buf.size());
  DBRESULT rc = call(buf.data(), &len);
  if (rc == DBE_BUFFER_TOO_SMALL && len > buf.size()) {
    buf.assign(len, '\0');
    len = static_cast<std::uint16_t>(buf.size());
    rc = call(buf.data(), &len);
  }
  Check(rc);
  return std::string(buf.data(), strnlen(buf.data(), std::min<std::size_t>(len, buf.size())));
}

}  // namespace

TDbDictionary::TDbDictionary(TComponent* owner) : TComponent(owner) {}

TDbDictionary::~TDbDictionary() {
  try {
    Disconnect();
  } catch (...) {
    // A destructor cannot raise; the handle is cleared either way.
  }
}

void TDbDictionary::SetConnectPath(const std::string& path) {
  if (connected_) throw DbConnectionError(msg::kDictConnectPathLocked);
  connect_path_ = path;
}

void TDbDictionary::SetDbServerTypes(TDbServerTypes types) {
  if (types.Empty()) {
    if (server_types_.Empty()) server_types_ = TDbServerTypes{stDB_LOCAL};
    throw DbSettingsError(msg::kNoServerType);
  }
  server_types_ = types;
  Check(DbSetServerType(EngineServerTypes(types)));
}

void TDbDictionary::SetIsConnected(bool connect) {
  if (connect) {
    Connect();
  } else {
    Disconnect();
  }
}

void TDbDictionary::Connect() {
  if (connected_) return;
  if (connect_path_.empty()) throw DbConnectionError(msg::kDictNoConnectString);
  DBHANDLE h = 0;
  Check(DbConnect(connect_path_.c_str(), EngineServerTypes(server_types_), user_name_.c_str(), password_.c_str(),
                  CommunicationBits(communication_type_), &h));
  std::uint16_t type = 0;
  DBRESULT rc = DbGetHandleType(h, &type);
  if (rc != DBE_SUCCESS || (type != DBE_HANDLE_DICTIONARY && type != DBE_HANDLE_DICTIONARY_ADMIN)) {
    DbDisconnect(h);
    throw DbConnectionError(msg::kDictPathInvalid);
  }
  handle_ = h;
  connected_ = true;
}

void TDbDictionary::Disconnect() {
  if (!connected_) return;
  DBRESULT rc = DbDisconnect(handle_);
  std::optional<DbError> failure;
  if (rc != DBE_SUCCESS) {
    if (std::optional<EDbEngineError> e = internal::EngineError(rc)) failure.emplace(e->Message());
  }
  handle_ = 0;
  connected_ = false;
  if (failure) throw *failure;
}

// 5137 from the first or a later call ends the listing quietly.
void TDbDictionary::ListObjects(std::uint16_t object_type, const std::string& parent, std::vector<std::string>& list) {
  char name[kNameBuffer] = {};
  std::uint16_t len = kNameBuffer;
  DBHANDLE find = 0;
  DBRESULT rc = DbDDFindFirstObject(handle_, object_type, parent.c_str(), name, &len, &find);
  if (rc == DBE_NO_MORE_OBJECTS) return;
  Check(rc);
  std::optional<EDbEngineError> failure;
  while (true) {
    list.emplace_back(name, strnlen(name, DBE_DD_MAX_NAME));
    len = kNameBuffer;
    std::memset(name, 0, sizeof name);
    rc = DbDDFindNextObject(handle_, find, name, &len);
    if (rc == DBE_NO_MORE_OBJECTS) break;
    if (rc != DBE_SUCCESS) {
      failure = internal::EngineError(rc);
      break;
    }
  }
  DBRESULT closed = DbDDFindClose(handle_, find);
  if (failure) throw *failure;
  Check(closed);
}

void TDbDictionary::GetTableNames(std::vector<std::string>& list) { ListObjects(DBE_DD_OBJECT_TABLE, "", list); }

void TDbDictionary::GetIndexNames(const std::string& table, std::vector<std::string>& list) {
  ListObjects(DBE_DD_OBJECT_INDEX, table, list);
}

void TDbDictionary::GetUserNames(std::vector<std::string>& list) { ListObjects(DBE_DD_OBJECT_USER, "", list); }

void TDbDictionary::AddTable(const std::string& name, const std::string& path, const std::string& index_files,
                             const std::string& comments, TDbTableTypes table_type, TDbCharTypes char_type) {
  std::uint16_t type = table_type == ttDbKDT ? DBE_TABLE_KDT : table_type == ttDbCDX ? DBE_TABLE_CDX : DBE_TABLE_NTX;
  std::uint16_t chars = char_type == TDbCharTypes::ANSI ? DBE_CHAR_ANSI : DBE_CHAR_OEM;
  Check(DbDDAddTable(handle_, name.c_str(), path.c_str(), type, chars, index_files.c_str(), comments.c_str()));
}

void TDbDictionary::RemoveTable(const std::string& name, bool delete_files) {
  Check(DbDDRemoveTable(handle_, name.c_str(), delete_files ? 1 : 0));
}

void TDbDictionary::SaveTableListing(const std::string& name) {
  Check(DbDDSaveTableListing(handle_, name.c_str()));
}

std::string TDbDictionary::GetTableFileName(const std::string& name) {
  return ReadText([&](char* buf, std::uint16_t* len) { return DbDDGetTableFilename(handle_, name.c_str(), buf, len); });
}

void TDbDictionary::SetTableProperty(const std::string& name, std::uint16_t property, const void* value,
                                     std::uint16_t length, std::uint16_t validation, const std::string& fail_table) {
  Check(DbDDSetTableProperty(handle_, name.c_str(), property, value, length, validation, fail_table.c_str()));
}

void TDbDictionary::GetTableProperty(const std::string& name, std::uint16_t property, void* value,
                                     std::uint16_t* length) {
  Check(DbDDGetTableProperty(handle_, name.c_str(), property, value, length));
}

void TDbDictionary::DeleteIndex(const std::string& table, const std::string& index) {
  Check(DbDDDeleteIndex(handle_, table.c_str(), index.c_str()));
}

void TDbDictionary::CreateUser(const std::string& group, const std::string& user, const std::string& password,
                               const std::string& description) {
  Check(DbDDCreateUser(handle_, group.c_str(), user.c_str(), password.c_str(), description.c_str()));
}

void TDbDictionary::SetObjectAccessRights(const std::string& object, const std::string& accessor,
                                          const std::string& rights) {
  Check(DbDDSetObjectAccessRights(handle_, object.c_str(), accessor.c_str(), rights.c_str()));
}

std::string TDbDictionary::GetObjectAccessRights(const std::string& object, const std::string& accessor) {
  return ReadText([&](char* buf, std::uint16_t* len) {
    return DbDDGetObjectAccessRights(handle_, object.c_str(), accessor.c_str(), buf, len);
  });
}

void CreateDataDictionary(const std::string& path, const std::string& admin_password,
                          const std::string& description) {
  Check(DbDDCreate(path.c_str(), admin_password.c_str(), description.c_str(), nullptr));
}

}  // namespace kx8::dbaccess
