// The data-dictionary functions of dbe.h.
#include <cstring>
#include <optional>

#include "api/objects.h"
#include "api/run.h"
#include "core/error.h"
#include "dict/dictionary.h"
#include "platform/path.h"

namespace dbe {
namespace {

// An object listing in progress.
struct FindState : Object {
  FindState() : Object(8) {}
  std::vector<std::string> names;
  size_t next = 0;
};

Connection* Dict(DBHANDLE h) {
  Connection* c = LookupConnection(h);
  if (c == nullptr) Fail(DBE_INVALID_HANDLE, "Error 5010: The handle is not a valid data dictionary handle.");
  if (!c->is_dictionary()) Fail(DBE_NEEDS_DICTIONARY, "Error 5075: The connection is not a data dictionary connection.");
  return c;
}

std::string Str(const char* s) { return s == nullptr ? std::string() : std::string(s); }

void CopyName(const std::string& s, char* buf, uint16_t* len) {
  if (len == nullptr) Fail(DBE_INVALID_ARGUMENT, "Error 5012: No buffer length was given.");
  if (buf == nullptr || *len <= s.size()) {
    *len = static_cast<uint16_t>(s.size() + 1);
    Fail(DBE_BUFFER_TOO_SMALL, "Error 5015: The buffer is too small for the name.");
  }
  std::memcpy(buf, s.data(), s.size());
  buf[s.size()] = '\0';
  *len = static_cast<uint16_t>(s.size());
}

[[noreturn]] void NoMore() { Fail(DBE_NO_MORE_OBJECTS, "Error 5137: There are no more objects of that kind."); }

}  // namespace
}  // namespace dbe

using namespace dbe;

extern "C" {

DBRESULT DbDDCreate(const char* path, const char* admin_password, const char* description, DBHANDLE* connection) {
  return Run([&] {
    if (connection != nullptr) *connection = 0;
    dict::Create(Str(path), Str(admin_password), Str(description));
    if (connection != nullptr) {
      auto c = std::make_unique<Connection>();
      dict::Logon(c.get(), kx8::platform::ResolvePath(Str(path)), "DBSYS", Str(admin_password));
      *connection = Register(std::move(c));
    }
  });
}

DBRESULT DbDDFindFirstObject(DBHANDLE dictionary, uint16_t object_type, const char* parent, char* name,
                             uint16_t* len, DBHANDLE* find) {
  return Run([&] {
    if (find != nullptr) *find = 0;
    Connection* c = Dict(dictionary);
    auto state = std::make_unique<FindState>();
    state->names = dict::ObjectNames(c, object_type, Str(parent));
    if (state->names.empty()) NoMore();
    CopyName(state->names[0], name, len);
    state->next = 1;
    DBHANDLE h = Register(std::move(state));
    if (find != nullptr) *find = h;
  });
}

DBRESULT DbDDFindNextObject(DBHANDLE dictionary, DBHANDLE find, char* name, uint16_t* len) {
  return Run([&] {
    Dict(dictionary);
    auto* state = LookupAs<FindState>(find, 8);
    if (state == nullptr) Fail(DBE_INVALID_HANDLE, "Error 5010: The handle is not a valid find handle.");
    if (state->next >= state->names.size()) NoMore();
    CopyName(state->names[state->next], name, len);
    ++state->next;
  });
}

DBRESULT DbDDFindClose(DBHANDLE dictionary, DBHANDLE find) {
  return Run([&] {
    Dict(dictionary);
    if (LookupAs<FindState>(find, 8) == nullptr) Fail(DBE_INVALID_HANDLE, "Error 5010: The handle is not a valid find handle.");
    Unregister(find);
  });
}

DBRESULT DbDDAddTable(DBHANDLE dictionary, const char* name, const char* path, uint16_t table_type,
                      uint16_t char_type, const char* index_files, const char* comments) {
  (void)index_files;
  return Run([&] { dict::AddTable(Dict(dictionary), Str(name), Str(path), table_type, char_type, Str(comments)); });
}

DBRESULT DbDDRemoveTable(DBHANDLE dictionary, const char* name, uint16_t delete_files) {
  return Run([&] { dict::RemoveTable(Dict(dictionary), Str(name), delete_files != 0); });
}

DBRESULT DbDDSaveTableListing(DBHANDLE dictionary, const char* name) {
  return Run([&] { WriteCatalogUnlessListed(Dict(dictionary)->kdd, Str(name)); });
}

DBRESULT DbDDGetTableFilename(DBHANDLE dictionary, const char* name, char* buf, uint16_t* len) {
  return Run([&] {
    Connection* c = Dict(dictionary);
    std::optional<DictTable> t = dict::FindTable(c, Str(name));
    if (!t) {
      Fail(DBE_OBJECT_NOT_FOUND, "Error 5073: The table " + Str(name) + " is not in the data dictionary. File: " + c->kdd);
    }
    CopyName(t->file, buf, len);
  });
}

DBRESULT DbDDSetTableProperty(DBHANDLE dictionary, const char* name, uint16_t property, const void* value,
                              uint16_t len, uint16_t validate, const char* fail_table) {
  (void)validate;
  (void)fail_table;
  return Run([&] { dict::SetProperty(Dict(dictionary), Str(name), property, value, len); });
}

DBRESULT DbDDGetTableProperty(DBHANDLE dictionary, const char* name, uint16_t property, void* value,
                              uint16_t* len) {
  return Run([&] { dict::GetProperty(Dict(dictionary), Str(name), property, value, len); });
}

DBRESULT DbDDDeleteIndex(DBHANDLE dictionary, const char* table, const char* index) {
  return Run([&] { dict::DeleteIndex(Dict(dictionary), Str(table), Str(index)); });
}

DBRESULT DbDDCreateUser(DBHANDLE dictionary, const char* group, const char* user, const char* password,
                        const char* description) {
  return Run([&] { dict::CreateUser(Dict(dictionary), Str(group), Str(user), Str(password), Str(description)); });
}

DBRESULT DbDDSetObjectAccessRights(DBHANDLE dictionary, const char* object, const char* accessor,
                                   const char* rights) {
  return Run([&] { dict::SetRights(Dict(dictionary), Str(object), Str(accessor), Str(rights)); });
}

DBRESULT DbDDGetObjectAccessRights(DBHANDLE dictionary, const char* object, const char* accessor, char* rights,
                                   uint16_t* len) {
  return Run([&] { CopyName(dict::GetRights(Dict(dictionary), Str(object), Str(accessor)), rights, len); });
}

}  // extern "C"
