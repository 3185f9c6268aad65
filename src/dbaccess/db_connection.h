// TDbConnection: one connection to the database engine, to a folder of free
// tables or, through a ".kdd" path, to a data dictionary.
#ifndef KX8_DBACCESS_DB_CONNECTION_H_
#define KX8_DBACCESS_DB_CONNECTION_H_

#include <cstdint>
#include <string>
#include <vector>

#include "dbaccess/db_component.h"
#include "dbaccess/db_types.h"

namespace kx8::dbaccess {

class TDbDataSet;

class TDbConnection : public TComponent {
 public:
  explicit TDbConnection(TComponent* owner = nullptr);
  // Freeing disconnects (closing every attached dataset) and detaches the
  // datasets, which keep their DatabaseName.
  ~TDbConnection() override;

  // A folder of free tables, or the full path of a ".kdd" file. Refused
  // while connected.
  const std::string& ConnectPath() const { return connect_path_; }
  void SetConnectPath(const std::string& path);

  // Which servers the engine may use. An empty set is refused with
  // DbSettingsError; the previous value (local alone when there was none)
  // stays. The bits are also the engine's process-wide server setting.
  TDbServerTypes DbServerTypes() const { return server_types_; }
  void SetDbServerTypes(TDbServerTypes types);

  // Credentials, passed on only for dictionary connections.
  const std::string& Username() const { return username_; }
  void SetUsername(const std::string& v) { username_ = v; }
  const std::string& Password() const { return password_; }
  void SetPassword(const std::string& v) { password_ = v; }
  // Kept for the caller; nobody is ever asked for credentials.
  bool LoginPrompt() const { return login_prompt_; }
  void SetLoginPrompt(bool v) { login_prompt_ = v; }

  bool IsConnected() const { return connected_; }
  void SetIsConnected(bool connect);
  std::uint32_t ConnectionHandle() const { return handle_; }

  int Tag() const { return tag_; }
  void SetTag(int v) { tag_ = v; }

  // True when the upper-cased ConnectPath contains ".KDD".
  bool IsDictionaryConnection() const { return is_dictionary_; }
  // ConnectPath; for a path ending in ".kdd" (any case) its folder: cut at
  // the last "/" if there is one, else at the last "\", ".\" when neither.
  std::string DataFolder() const;
  // "Local", "Remote" or "Internet"; empty for another type or when not
  // connected.
  std::string ConnectionTypeText() const;

  // The datasets attached to this connection.
  const std::vector<TDbDataSet*>& DataSets() const { return datasets_; }

 protected:
  void NameChanged() override;

 private:
  friend class TDbDataSet;
  void Connect();
  void Disconnect(bool freeing);
  void Attach(TDbDataSet* ds);
  void Detach(TDbDataSet* ds);

  std::string connect_path_;
  TDbServerTypes server_types_;
  std::string username_;
  std::string password_;
  bool login_prompt_ = true;
  bool connected_ = false;
  std::uint32_t handle_ = 0;
  int tag_ = 0;
  bool is_dictionary_ = false;
  std::vector<TDbDataSet*> datasets_;
};

// The engine's server bits: remote 2, local 1, internet 4, summed.
std::uint16_t EngineServerTypes(TDbServerTypes types);

}  // namespace kx8::dbaccess

#endif  // KX8_DBACCESS_DB_CONNECTION_H_
