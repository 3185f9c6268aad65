// What the schema steps and conversions work on: the main window's shared
// components and services, handed down by the console so that these units
// stay below it.
#ifndef KX8_SCHEMA_CONTEXT_H_
#define KX8_SCHEMA_CONTEXT_H_

#include <cstdint>
#include <functional>
#include <set>
#include <string>

#include "dbaccess/db_connection.h"
#include "dbaccess/db_dictionary.h"
#include "dbaccess/db_query.h"
#include "dbaccess/db_table.h"
#include "platform/ui_services.h"
#include "schema/table_shapes.h"

namespace kx8::schema {

// A column a step added, resized, retyped or removed, for the run report.
struct ColumnChange {
  std::string table, column;
  std::string change;         // "added", "widened", "narrowed", "retyped" or "removed"
  std::string before, after;  // "char 12", "integer", ...; empty where there is no column
};

struct UpgradeContext {
  dbaccess::TDbConnection& company;         // the company connection (DbConnection1)
  dbaccess::TDbDictionary& dictionary;      // the dictionary component (DbDictionary1)
  dbaccess::TDbTable& work_table;           // DbTable1
  dbaccess::TDbQuery& work_query;           // DbQuery1
  dbaccess::TDbTable& company_register;     // DbTableCompany, on the company's row
  platform::UiServices& ui;
  std::string root_folder;
  std::function<void(const std::string&)> set_edit1;  // first status line
  std::function<std::string()> edit1;
  // Free tables of an encrypted kind that a step of the current column run
  // decrypted for its changes and a later step of the same run encrypts
  // again. Should the run end on an error in between, they are encrypted
  // again before the error goes on (EncryptAgainAfterFailure), so that a
  // failed pass never leaves payroll data stored in the clear.
  std::set<std::string> decrypted_for_change = {};
  // Told of every column change made (may be empty).
  std::function<void(const ColumnChange&)> column_changed = {};
  // Told how many rows of a table a step changed, by the steps that count
  // them (may be empty).
  std::function<void(const std::string& table, std::int64_t rows)> rows_changed = {};
  // The fields of tables as the column upgrade primitive found them, kept
  // from one entry to the next (may be null: every entry opens its table).
  TableShapes* table_shapes = nullptr;

  // Tag 99: the company was connected through its dictionary file.
  bool DictionaryBound() const { return company.Tag() == 99; }
  std::string CompanyCode() const;
  // Positions the register on a company again; raises "Company code not found !".
  void SeekCompany(const std::string& code) const;
  // root folder + "COMPANY\" + code
  std::string CompanyFolder(const std::string& code) const { return root_folder + "COMPANY\\" + code; }
  void ColumnChanged(const ColumnChange& change) const {
    if (column_changed) column_changed(change);
  }
  void RowsChanged(const std::string& table, std::int64_t rows) const {
    if (rows_changed) rows_changed(table, rows);
  }
  void Status(const std::string& text) const {
    set_edit1(text);
    ui.ProcessMessages();
  }
};

}  // namespace kx8::schema

#endif  // KX8_SCHEMA_CONTEXT_H_
