// Inside the access layer only: the process-wide lists of connections and
// datasets, used to attach a dataset to a connection by the connection's
// component name. Guarded by one lock.
#ifndef KX8_DBACCESS_REGISTRY_H_
#define KX8_DBACCESS_REGISTRY_H_

#include <string_view>
#include <vector>

namespace kx8::dbaccess {
class TComponent;
class TDbConnection;
class TDbDataSet;
}  // namespace kx8::dbaccess

namespace kx8::dbaccess::internal {

void RegisterConnection(TDbConnection* c);
void UnregisterConnection(TDbConnection* c);
void RegisterDataSet(TDbDataSet* ds);
void UnregisterDataSet(TDbDataSet* ds);

// The connection whose name equals name without regard to case, one with
// the given owner first; nullptr when there is none (or name is empty).
TDbConnection* FindConnection(std::string_view name, const TComponent* owner);

// The datasets whose DatabaseName equals name without regard to case.
std::vector<TDbDataSet*> DataSetsNaming(std::string_view name);

}  // namespace kx8::dbaccess::internal

#endif  // KX8_DBACCESS_REGISTRY_H_
