// A company as the schema steps see it: a root folder with the register, a
// company folder (free tables or a dictionary), and the components of the
// upgrade context, with a scripted UI.
#ifndef KX8_TESTS_SCHEMA_SCHEMA_FIXTURE_H_
#define KX8_TESTS_SCHEMA_SCHEMA_FIXTURE_H_

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>

#include "dbaccess/db_dictionary.h"
#include "dbaccess/db_scoped_table.h"
#include "platform/scripted_ui.h"
#include "register/company_register.h"
#include "schema/context.h"
#include "support/credentials.h"

namespace kx8::schema {

namespace fs = std::filesystem;

class SchemaTest : public ::testing::Test {
 protected:
  void SetUp() override {
    base_ = fs::temp_directory_path() / ("kx8-schema-" + std::to_string(::getpid()) + "-" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(base_);
    fs::create_directories(base_ / "COMPANY" / "ACME");
    root_ = base_.string() + "/";
    folder_ = root_ + "COMPANY\\ACME";
    reg::CreateRegister(root_, false, ui_);
    dbaccess::TDbScopedTable r;
    r.Connection().SetConnectPath(root_);
    r.Table().SetTableName("mcompany.KDT");
    r.Table().Open();
    r.Table().Append();
    r.Table().FieldByName("COMPANY_CODE").SetAsString("ACME");
    r.Table().Post();
  }
  void TearDown() override {
    ctx_.reset();
    query_.reset();
    work_.reset();
    register_.reset();
    dictionary_.reset();
    company_.reset();
    register_connection_.reset();
    fs::remove_all(base_);
  }

  // Creates a free table in the company folder: fields "NAME,type,size;..."
  // as (name, dataset type, size) triples, rows as text values.
  void MakeTable(const std::string& name, std::vector<dbaccess::TFieldDef> fields,
                 std::vector<std::vector<std::string>> rows = {}, bool encrypted = false) {
    dbaccess::TDbScopedTable t;
    t.Connection().SetConnectPath(folder_);
    t.Table().SetTableName(name);
    for (const auto& f : fields) t.Table().FieldDefs().Add(f);
    t.Table().CreateTable();
    t.Table().SetExclusive(true);
    t.Table().Open();
    for (const auto& row : rows) {
      t.Table().Append();
      for (size_t i = 0; i < row.size(); ++i) {
        if (!row[i].empty()) t.Table().Fields(static_cast<int>(i)).SetAsString(row[i]);
      }
      t.Table().Post();
    }
    if (encrypted) {
      t.Table().EnableEncryption(support::AdministratorPassword());
      t.Table().EncryptTable();
    }
  }

  // Connects a dictionary component to the company's dictionary as the
  // administrator.
  void LogOnAsAdministrator(dbaccess::TDbDictionary& d) const {
    d.SetConnectPath(kdd_);
    d.SetUserName(support::AdministratorUser());
    d.SetPassword(support::AdministratorPassword());
    d.SetLoginPrompt(false);
    d.SetIsConnected(true);
  }

  // Makes the company dictionary-bound: a dictionary with the three
  // application users, holding the given tables (encryption 214 as given).
  void MakeDictionary(const std::vector<std::pair<std::string, bool>>& tables,
                      const std::vector<std::string>& users = {"readuser", "KELPAVON8", "USER88"}) {
    kdd_ = folder_ + "\\ACME.kdd";
    dbaccess::CreateDataDictionary(kdd_, support::AdministratorPassword(), "Acme");
    dbaccess::TDbDictionary d;
    LogOnAsAdministrator(d);
    for (const std::string& u : users) d.CreateUser("", u, "pw", "");
    for (const auto& [table, encrypted] : tables) {
      bool has_extension = table.size() > 4 && table.compare(table.size() - 4, 4, ".KDT") == 0;
      d.AddTable(table, has_extension ? table : table + ".KDT", "", "", dbaccess::ttDbKDT, dbaccess::TDbCharTypes::ANSI);
      std::uint16_t v = encrypted ? 1 : 0;
      if (encrypted) d.SetTableProperty(table, 214, &v, 2, 0, "");
    }
  }

  // The upgrade context on the company, connected as the run connects it.
  UpgradeContext& Context() {
    register_connection_ = std::make_unique<dbaccess::TDbConnection>();
    register_connection_->SetConnectPath(root_);
    register_ = std::make_unique<dbaccess::TDbTable>();
    register_->SetDbConnection(register_connection_.get());
    register_->SetTableName("mcompany.KDT");
    register_->SetIndexFieldNames("COMPANY_CODE");
    register_->Open();
    company_ = std::make_unique<dbaccess::TDbConnection>();
    company_->SetUsername(support::AdministratorUser());
    company_->SetPassword(support::AdministratorPassword());
    company_->SetLoginPrompt(false);
    company_->SetConnectPath(kdd_.empty() ? folder_ : kdd_);
    company_->SetTag(kdd_.empty() ? 0 : 99);
    company_->SetIsConnected(true);
    dictionary_ = std::make_unique<dbaccess::TDbDictionary>();
    dictionary_->SetUserName(support::AdministratorUser());
    dictionary_->SetPassword(support::AdministratorPassword());
    dictionary_->SetLoginPrompt(false);
    work_ = std::make_unique<dbaccess::TDbTable>();
    work_->SetDbConnection(company_.get());
    work_->DbTableOptions().SetDbRightsCheck(false);
    query_ = std::make_unique<dbaccess::TDbQuery>();
    query_->SetDbConnection(company_.get());
    query_->DbTableOptions().SetDbRightsCheck(false);
    ctx_ = std::make_unique<UpgradeContext>(UpgradeContext{
        *company_, *dictionary_, *work_, *query_, *register_, ui_, root_,
        [this](const std::string& t) {
          edit1_ = t;
          edit1_history_.push_back(t);
        },
        [this] { return edit1_; },
        {}});
    // As in the run, entries keep what they learn of the tables' fields.
    ctx_->table_shapes = &table_shapes_;
    return *ctx_;
  }

  // Opens a company table as the application does: through the dictionary
  // when there is one, else with the administrator password.
  template <typename Body>
  void WithTable(const std::string& table, Body body) {
    dbaccess::TDbScopedTable t;
    t.Connection().SetUsername(support::AdministratorUser());
    t.Connection().SetPassword(support::AdministratorPassword());
    t.Connection().SetConnectPath(kdd_.empty() ? folder_ : kdd_);
    t.Table().SetTableName(table);
    t.Table().DbTableOptions().SetDbRightsCheck(false);
    t.Table().Open();
    if (kdd_.empty() && t.Table().IsTableEncrypted()) t.Table().EnableEncryption(support::AdministratorPassword());
    body(t.Table());
  }

  // The type and data size of a column of a company table, read afresh.
  std::pair<dbaccess::TFieldType, int> Column(const std::string& table, const std::string& column) {
    std::pair<dbaccess::TFieldType, int> result{dbaccess::ftUnknown, 0};
    WithTable(table, [&](dbaccess::TDbTable& t) {
      if (dbaccess::TField* f = t.FindField(column)) result = {f->DataType(), f->DataSize()};
    });
    return result;
  }

  // Whether the table's file is stored encrypted (asked without a password).
  bool StoredEncrypted(const std::string& table) {
    dbaccess::TDbScopedTable t;
    t.Connection().SetConnectPath(folder_);
    t.Table().SetTableName(table);
    t.Table().Open();
    return t.Table().IsTableEncrypted();
  }

  // A dictionary table's property, read as the administrator.
  std::uint16_t Property(const std::string& table, std::uint16_t property) {
    dbaccess::TDbDictionary d;
    LogOnAsAdministrator(d);
    std::uint16_t v = 9, len = 2;
    d.GetTableProperty(table, property, &v, &len);
    return v;
  }

  // The dictionary's table names.
  std::vector<std::string> Tables() {
    dbaccess::TDbDictionary d;
    LogOnAsAdministrator(d);
    std::vector<std::string> names;
    d.GetTableNames(names);
    return names;
  }

  // Whether a user may open the table through the dictionary with rights checked.
  bool UserCanRead(const std::string& user, const std::string& table) {
    dbaccess::TDbScopedTable t;
    t.Connection().SetConnectPath(kdd_);
    t.Connection().SetUsername(user);
    t.Connection().SetPassword(user == "QRN" ? "kvm482" : "pw");
    t.Connection().SetLoginPrompt(false);
    t.Table().SetTableName(table);
    try {
      t.Table().Open();
      return true;
    } catch (const std::exception&) {
      return false;
    }
  }

  fs::path base_;
  std::string root_, folder_, kdd_;
  platform::ScriptedUi ui_;
  std::string edit1_;
  std::vector<std::string> edit1_history_;
  TableShapes table_shapes_;
  std::unique_ptr<dbaccess::TDbConnection> register_connection_, company_;
  std::unique_ptr<dbaccess::TDbTable> register_, work_;
  std::unique_ptr<dbaccess::TDbDictionary> dictionary_;
  std::unique_ptr<dbaccess::TDbQuery> query_;
  std::unique_ptr<UpgradeContext> ctx_;
};

}  // namespace kx8::schema

#endif  // KX8_TESTS_SCHEMA_SCHEMA_FIXTURE_H_
