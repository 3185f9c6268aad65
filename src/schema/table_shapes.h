// The fields of tables as the column upgrade primitive last found them,
// each kept with the engine's stamp of the table's data file. An entry
// whose table still has the stamp it was kept under is decided from these
// fields, without opening the table: a second pass, where no entry has
// anything to do, then opens no table for its entries. Any write or
// rewrite of the table, by this process or another, changes the stamp, and
// the next entry opens the table and reads its fields again.
#ifndef KX8_SCHEMA_TABLE_SHAPES_H_
#define KX8_SCHEMA_TABLE_SHAPES_H_

#include <cstdint>
#include <map>
#include <string>

#include "dbaccess/db_table.h"
#include "dbaccess/db_types.h"

namespace kx8::schema {

// A field's type and size as the open table shows them (TField).
struct FieldShape {
  dbaccess::TFieldType type = dbaccess::ftUnknown;
  int data_size = 0;
};

class TableShapes {
 public:
  struct Shape {
    std::map<std::string, FieldShape> fields;  // by upper-cased name
    // The administrator password opened the (free) table: an encrypted
    // entry needs that shown before it may pass without an open.
    bool password_accepted = false;
    // Without regard to case; null when the table has no such field.
    const FieldShape* Find(const std::string& column) const;
  };

  // The shape kept for the table when stamp, its data file's stamp now, is
  // the one it was kept under; null otherwise and for stamp 0.
  const Shape* Find(const std::string& table, std::uint64_t stamp) const;
  // Keeps the fields of the open table under its stamp; a table without a
  // stamp is forgotten instead.
  void Keep(const std::string& table, dbaccess::TDbTable& open, bool password_accepted);
  void Forget(const std::string& table);

 private:
  struct Entry {
    std::uint64_t stamp = 0;
    Shape shape;
  };
  std::map<std::string, Entry> entries_;  // by upper-cased table name
};

}  // namespace kx8::schema

#endif  // KX8_SCHEMA_TABLE_SHAPES_H_
