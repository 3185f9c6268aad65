#include "dbaccess/db_connection.h"

#include <algorithm>
#include <exception>
#include <optional>

#include "dbaccess/db_dataset.h"
#include "dbaccess/db_errors.h"
#include "dbaccess/db_messages.h"
#include "dbaccess/engine_call.h"
#include "dbaccess/registry.h"
#include "dbe/dbe.h"

namespace kx8::dbaccess {

namespace {
constexpr std::size_t kMaxPath = 254;
constexpr std::size_t kMaxCredential = 260;
}  // namespace

std::uint16_t EngineServerTypes(TDbServerTypes types) {
  std::uint16_t bits = 0;
  if (types.Contains(stDB_REMOTE)) bits += DBE_SERVER_REMOTE;
  if (types.Contains(stDB_LOCAL)) bits += DBE_SERVER_LOCAL;
  if (types.Contains(stDB_INTERNET)) bits += DBE_SERVER_INTERNET;
  return bits;
}

TDbConnection::TDbConnection(TComponent* owner) : TComponent(owner) { internal::RegisterConnection(this); }

TDbConnection::~TDbConnection() {
  try {
    Disconnect(true);
  } catch (...) {
    // A destructor cannot raise; the handle is gone either way.
  }
  std::vector<TDbDataSet*> attached = datasets_;
  for (TDbDataSet* ds : attached) ds->AttachTo(nullptr);
  internal::UnregisterConnection(this);
}

void TDbConnection::SetConnectPath(const std::string& path) {
  if (connected_) throw DbConnectionError(msg::kConnectPathLocked);
  connect_path_ = path;
  is_dictionary_ = internal::Upper(path).find(".KDD") != std::string::npos;
}

void TDbConnection::SetDbServerTypes(TDbServerTypes types) {
  if (types.Empty()) {
    if (server_types_.Empty()) server_types_ = TDbServerTypes{stDB_LOCAL};
    throw DbSettingsError(msg::kNoServerType);
  }
  server_types_ = types;
  internal::Check(DbSetServerType(EngineServerTypes(types)));
}

void TDbConnection::SetIsConnected(bool connect) {
  if (connect) {
    Connect();
  } else {
    Disconnect(false);
  }
}

std::string TDbConnection::DataFolder() const {
  const std::string& p = connect_path_;
  if (p.size() > 4 && internal::Upper(p.substr(p.size() - 4)) == ".KDD") {
    // The file name is cut off at the last separator. Paths here mix "/"
    // (the root folder of this system) and "\" (what the program appends),
    // so the later of the two is the file name's separator.
    std::size_t cut = p.find_last_of("/\\");
    if (cut == std::string::npos) return ".\\";
    return p.substr(0, cut);
  }
  return p;
}

std::string TDbConnection::ConnectionTypeText() const {
  if (!connected_) return {};
  std::uint16_t type = 0;
  internal::Check(DbGetConnectionType(handle_, &type));
  switch (type) {
    case 1: return msg::kConnectionLocal;
    case 2: return msg::kConnectionRemote;
    case 4: return msg::kConnectionInternet;
    default: return {};
  }
}

void TDbConnection::Connect() {
  if (connected_) return;
  if (connect_path_.empty()) throw DbConnectionError(msg::kNoConnectString);
  std::string path = connect_path_.substr(0, kMaxPath);
  // A free connection logs on with empty credentials whatever is set.
  std::string user = is_dictionary_ ? username_.substr(0, kMaxCredential) : std::string();
  std::string password = is_dictionary_ ? password_.substr(0, kMaxCredential) : std::string();
  DBHANDLE h = 0;
  internal::Check(DbConnect(path.c_str(), EngineServerTypes(server_types_), user.c_str(), password.c_str(), 0, &h));
  handle_ = h;
  connected_ = true;
  if (is_dictionary_) {
    std::vector<TDbDataSet*> attached = datasets_;
    for (TDbDataSet* ds : attached) ds->ConnectionConnected();
  }
}

void TDbConnection::Disconnect(bool freeing) {
  if (!connected_) return;
  // Every dataset is closed and every statement freed, whatever fails, and
  // the connection goes. Only the disconnect's own failure is raised: a
  // dataset that failed to close is gone with its connection, and raising
  // its error would make callers take the connection for still open.
  std::exception_ptr first;
  std::vector<TDbDataSet*> attached = datasets_;
  for (TDbDataSet* ds : attached) {
    try {
      ds->Close();
    } catch (...) {
      if (!first) first = std::current_exception();
    }
  }
  for (TDbDataSet* ds : attached) {
    try {
      ds->ReleaseStatement();
    } catch (...) {
      if (!first) first = std::current_exception();
    }
  }
  DBRESULT rc = DbDisconnect(handle_);
  std::optional<DbError> failure;
  if (rc != DBE_SUCCESS && !(freeing && rc == DBE_CONNECTION_GONE)) {
    if (std::optional<EDbEngineError> e = internal::EngineError(rc)) failure.emplace(e->Message());
  }
  handle_ = 0;
  connected_ = false;
  if (failure) throw *failure;
  (void)first;  // see above: a failed close does not fail the disconnect
}

void TDbConnection::Attach(TDbDataSet* ds) {
  if (std::find(datasets_.begin(), datasets_.end(), ds) == datasets_.end()) datasets_.push_back(ds);
}

void TDbConnection::Detach(TDbDataSet* ds) { datasets_.erase(std::remove(datasets_.begin(), datasets_.end(), ds), datasets_.end()); }

// Datasets that named this connection before it had its name attach now.
void TDbConnection::NameChanged() {
  for (TDbDataSet* ds : internal::DataSetsNaming(Name())) {
    if (ds->DbConnection() == nullptr && !ds->Active()) ds->AttachTo(this);
  }
}

}  // namespace kx8::dbaccess
