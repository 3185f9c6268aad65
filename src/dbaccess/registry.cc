#include "dbaccess/registry.h"

#include <algorithm>
#include <mutex>

#include "dbaccess/db_component.h"
#include "dbaccess/db_connection.h"
#include "dbaccess/db_dataset.h"
#include "dbaccess/engine_call.h"

namespace kx8::dbaccess::internal {

namespace {

struct Registry {
  std::mutex lock;
  std::vector<TDbConnection*> connections;
  std::vector<TDbDataSet*> datasets;
};

Registry& TheRegistry() {
  static auto* r = new Registry();
  return *r;
}

template <typename T>
void Remove(std::vector<T*>& v, T* item) {
  v.erase(std::remove(v.begin(), v.end(), item), v.end());
}

}  // namespace

void RegisterConnection(TDbConnection* c) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> guard(r.lock);
  r.connections.push_back(c);
}

void UnregisterConnection(TDbConnection* c) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> guard(r.lock);
  Remove(r.connections, c);
}

void RegisterDataSet(TDbDataSet* ds) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> guard(r.lock);
  r.datasets.push_back(ds);
}

void UnregisterDataSet(TDbDataSet* ds) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> guard(r.lock);
  Remove(r.datasets, ds);
}

TDbConnection* FindConnection(std::string_view name, const TComponent* owner) {
  if (name.empty()) return nullptr;
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> guard(r.lock);
  TDbConnection* found = nullptr;
  for (TDbConnection* c : r.connections) {
    if (!SameText(c->Name(), name)) continue;
    if (c->Owner() == owner) return c;
    if (found == nullptr) found = c;
  }
  return found;
}

std::vector<TDbDataSet*> DataSetsNaming(std::string_view name) {
  std::vector<TDbDataSet*> out;
  if (name.empty()) return out;
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> guard(r.lock);
  for (TDbDataSet* ds : r.datasets) {
    if (SameText(ds->DatabaseName(), name)) out.push_back(ds);
  }
  return out;
}

}  // namespace kx8::dbaccess::internal
