// TDbDictionary: administration of a data dictionary (its tables, their
// properties and index entries, users and access rights) over a connection
// of its own to the ".kdd" file.
#ifndef KX8_DBACCESS_DB_DICTIONARY_H_
#define KX8_DBACCESS_DB_DICTIONARY_H_

#include <cstdint>
#include <string>
#include <vector>

#include "dbaccess/db_component.h"
#include "dbaccess/db_types.h"

namespace kx8::dbaccess {

class TDbDictionary : public TComponent {
 public:
  explicit TDbDictionary(TComponent* owner = nullptr);
  ~TDbDictionary() override;  // disconnects

  // Full path of the ".kdd" file; refused while connected.
  const std::string& ConnectPath() const { return connect_path_; }
  void SetConnectPath(const std::string& path);
  const std::string& UserName() const { return user_name_; }
  void SetUserName(const std::string& v) { user_name_ = v; }
  const std::string& Password() const { return password_; }
  void SetPassword(const std::string& v) { password_ = v; }
  // An empty set is refused with DbSettingsError; the previous value (local
  // alone when there was none) stays. The bits are also handed to the
  // engine as its process-wide server setting.
  TDbServerTypes DbServerTypes() const { return server_types_; }
  void SetDbServerTypes(TDbServerTypes types);
  bool LoginPrompt() const { return login_prompt_; }
  void SetLoginPrompt(bool v) { login_prompt_ = v; }
  TDbCommunicationType CommunicationType() const { return communication_type_; }
  void SetCommunicationType(TDbCommunicationType v) { communication_type_ = v; }

  bool IsConnected() const { return connected_; }
  void SetIsConnected(bool connect);

  // Names appended to the caller's list in the engine's order; the list is
  // not cleared first. Nothing is appended when there is no such object.
  void GetTableNames(std::vector<std::string>& list);
  void GetIndexNames(const std::string& table, std::vector<std::string>& list);
  void GetUserNames(std::vector<std::string>& list);

  void AddTable(const std::string& name, const std::string& path, const std::string& index_files,
                const std::string& comments, TDbTableTypes table_type, TDbCharTypes char_type);
  void RemoveTable(const std::string& name, bool delete_files);
  // Makes sure the dictionary's file lists the table: while rewrites are
  // deferred (db_rewrite_deferral.h) the dictionary's changes wait in
  // memory, and they are written now unless the file lists it already. For
  // a record outside the dictionary that may forget a table only once the
  // dictionary on disk holds it.
  void SaveTableListing(const std::string& name);
  // The table's data file as it was added ("PAYPARA.KDT", or the path given
  // to AddTable), the table named by its dictionary name or its file.
  std::string GetTableFileName(const std::string& name);
  void SetTableProperty(const std::string& name, std::uint16_t property, const void* value, std::uint16_t length,
                        std::uint16_t validation, const std::string& fail_table);
  void GetTableProperty(const std::string& name, std::uint16_t property, void* value, std::uint16_t* length);
  void DeleteIndex(const std::string& table, const std::string& index);
  void CreateUser(const std::string& group, const std::string& user, const std::string& password,
                  const std::string& description);
  void SetObjectAccessRights(const std::string& object, const std::string& accessor, const std::string& rights);
  // The rights letters of the user (accessor) on the table (object) as the
  // dictionary stores them ("RI", "RWI"); empty when it holds none. The
  // administrator's implicit rights are not stored, so they read empty.
  std::string GetObjectAccessRights(const std::string& object, const std::string& accessor);

 private:
  void Connect();
  void Disconnect();
  void ListObjects(std::uint16_t object_type, const std::string& parent, std::vector<std::string>& list);

  std::string connect_path_;
  std::string user_name_;
  std::string password_;
  TDbServerTypes server_types_;
  bool login_prompt_ = true;
  TDbCommunicationType communication_type_ = ctDbDefault;
  bool connected_ = false;
  std::uint32_t handle_ = 0;
};

// Creates a new, empty data dictionary at path (the ".kdd" file; its ".km"
// and ".ki" files go beside it) whose administrator DBSYS has
// admin_password. Raises EDbEngineError when the engine refuses, for
// example because the dictionary exists already.
void CreateDataDictionary(const std::string& path, const std::string& admin_password, const std::string& description);

}  // namespace kx8::dbaccess

#endif  // KX8_DBACCESS_DB_DICTIONARY_H_
