// TDbTable: one table of a connection, opened through the engine.
#ifndef KX8_DBACCESS_DB_TABLE_H_
#define KX8_DBACCESS_DB_TABLE_H_

#include <cstdint>
#include <string>

#include "dbaccess/db_dataset.h"

namespace kx8::dbaccess {

class TDbTable : public TDbDataSet {
 public:
  explicit TDbTable(TComponent* owner = nullptr);
  ~TDbTable() override;

  // --- settings (only while closed) ------------------------------------------
  // With or without the ".KDT" extension. On a connected dictionary
  // connection the dictionary's default index is looked up.
  const std::string& TableName() const { return table_name_; }
  void SetTableName(const std::string& name);
  TDbTableTypes TableType() const { return table_type_; }
  void SetTableType(TDbTableTypes type);
  bool Exclusive() const { return exclusive_; }
  void SetExclusive(bool v);
  bool ReadOnly() const { return read_only_; }
  void SetReadOnly(bool v);

  // True when open; else whether the table's data file exists in the
  // connection's data folder (".kdt" added to a name without extension).
  // Asks the file system, also for dictionary connections.
  bool TableExists() const;
  // A stamp of the table's data file (DbGetTableStamp): while it stays the
  // same, the fields read under it still hold. Asked of the open table, or
  // of the named table of a connected connection; on a dictionary
  // connection it also stands for the dictionary's entry of the table and
  // the user's rights on it. 0 when no stamp stands for the table (missing,
  // a change of it waiting, held exclusively, a table the dictionary of a
  // dictionary connection does not hold, or none connected).
  std::uint64_t FilesStamp() const;

  // Creates the table (closed) from FieldDefs and IndexDefs and leaves it
  // closed.
  void CreateTable();
  // Adds one index tag; a closed table is opened for it and closed again.
  void AddIndex(const std::string& name, const std::string& fields, TIndexOptions options);
  // Deletes the (closed) table with its files.
  void DeleteTable();
  // Removes every row; an open table posts a pending edit first.
  void EmptyTable();
  // Removes the deleted rows of the open table, then goes to the first row.
  void PackTable();

  // Encryption of the open table.
  void EnableEncryption(const std::string& password);
  void EncryptTable();
  void DecryptTable();
  bool IsTableEncrypted();

  // "8.10 (DBE 8.10a)": the component version and the engine's.
  std::string Version() const;

 protected:
  std::uint32_t OpenCursor() override;
  void CursorOpened() override;
  bool OpenedExclusive() const override { return exclusive_; }
  void ConnectionConnected() override;

 private:
  std::string ErrorTableName() const override { return table_name_; }
  // A handle opened as Open opens the table (dictionary name first, the
  // free-table path when the dictionary does not hold the table).
  std::uint32_t OpenTableHandle();
  std::string FreeTablePath() const;
  void ApplyDefaultIndex();

  std::string table_name_;
  TDbTableTypes table_type_ = ttDbKDT;
  bool exclusive_ = false;
  bool read_only_ = false;
  bool opened_through_dictionary_ = false;
};

}  // namespace kx8::dbaccess

#endif  // KX8_DBACCESS_DB_TABLE_H_
