#include "schema/table_shapes.h"

#include <cctype>

namespace kx8::schema {
namespace {

std::string Key(std::string name) {
  for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return name;
}

}  // namespace

const FieldShape* TableShapes::Shape::Find(const std::string& column) const {
  auto it = fields.find(Key(column));
  return it == fields.end() ? nullptr : &it->second;
}

const TableShapes::Shape* TableShapes::Find(const std::string& table, std::uint64_t stamp) const {
  if (stamp == 0) return nullptr;
  auto it = entries_.find(Key(table));
  return it == entries_.end() || it->second.stamp != stamp ? nullptr : &it->second.shape;
}

void TableShapes::Keep(const std::string& table, dbaccess::TDbTable& open, bool password_accepted) {
  const std::uint64_t stamp = open.FilesStamp();
  if (stamp == 0) {
    Forget(table);
    return;
  }
  Entry entry;
  entry.stamp = stamp;
  // What an earlier entry showed of the same files still holds.
  const Shape* known = Find(table, stamp);
  entry.shape.password_accepted = password_accepted || (known != nullptr && known->password_accepted);
  for (int i = 0; i < open.FieldCount(); ++i) {
    dbaccess::TField& f = open.Fields(i);
    entry.shape.fields.emplace(Key(f.FieldName()), FieldShape{f.DataType(), f.DataSize()});
  }
  entries_[Key(table)] = std::move(entry);
}

void TableShapes::Forget(const std::string& table) { entries_.erase(Key(table)); }

}  // namespace kx8::schema
