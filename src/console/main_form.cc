#include "console/main_form.h"
#include "console/run_driver.h"

#include "platform/file_system.h"
#include "platform/ini_file.h"
#include "platform/locale_info.h"
#include "platform/path.h"
#include "platform/program_info.h"
#include "register/company_register.h"
#include "schema/report_fields.h"
#include "support/credentials.h"

namespace kx8::console {
namespace {

// Texts of the start-up.
const char kConnectFailed[] = " DbConnection2 ";
const char kRegisterOpenFailed[] =
    " This Function requires exclusive right to perform this function. Please ensure User logout the application.!";
const char kCreateRegisterQuestion[] = "Create mcompany.kdt on the kx8 folder?";
const char kCreateIndexSql[] = "Create Unique Index \"PRIMARY\" on mcompany( COMPANY_CODE )";
const char kCreateCompanyQuestion[] = "Do you want to create company code ";
const char kServerLabel[] = " Server  DB Version ";
const char kUpdateArchive[] = "UPDATEKX8.ZIP";
const char kConfigFile[] = "KELPA.ini";

}  // namespace

TMainForm::TMainForm(platform::UiServices& ui, StartupSettings settings)
    : DbDictionary1(this),
      DbConnection2(this),
      DbConnection1(this),
      DbConnectionSetup(this),
      DbConnTmpl(this),
      DbConnectionSup(this),
      DbTableCompany(this),
      TableCompany(this),
      DbTable1(this),
      TablePAybank(this),
      TableRtable(this),
      DbQuery1(this),
      DbQuery3(this),
      DbQuerySQL(this),
      DbQueryDEL(this),
      DbQueryIndex(this),
      ui_(ui),
      settings_(std::move(settings)) {
  using namespace dbaccess;
  SetName("Form1");
  // Design settings of the components.
  DbDictionary1.SetName("DbDictionary1");
  DbDictionary1.SetDbServerTypes({stDB_REMOTE, stDB_LOCAL});
  DbDictionary1.SetLoginPrompt(false);
  struct Named {
    TDbConnection* connection;
    const char* name;
  };
  for (Named n : {Named{&DbConnection2, "DbConnection2"}, Named{&DbConnection1, "DbConnection1"},
                  Named{&DbConnectionSetup, "DbConnectionSetup"}, Named{&DbConnTmpl, "DbConnTmpl"},
                  Named{&DbConnectionSup, "DbConnectionSup"}}) {
    n.connection->SetName(n.name);
    n.connection->SetDbServerTypes({stDB_REMOTE, stDB_LOCAL});
    n.connection->SetLoginPrompt(false);
  }
  DbTableCompany.SetName("DbTableCompany");
  DbTableCompany.SetDbConnection(&DbConnection2);
  DbTableCompany.SetTableName("mcompany.KDT");
  DbTableCompany.SetIndexFieldNames("COMPANY_CODE");
  TableCompany.SetName("TableCompany");
  TableCompany.SetDbConnection(&DbConnectionSetup);
  TableCompany.SetTableName("paypara1.kdt");
  DbTable1.SetName("DbTable1");
  DbTable1.SetDbConnection(&DbConnection1);
  TablePAybank.SetName("TablePAybank");
  TablePAybank.SetDbConnection(&DbConnection1);
  TablePAybank.SetTableName("EMP_BNK.KDT");
  schema::SetUpTableRtable(TableRtable, DbConnection1, ui_);
  DbQuery1.SetName("DbQuery1");
  DbQuery1.SetDbConnection(&DbConnection1);
  DbQuery3.SetName("DbQuery3");
  DbQuery3.SetDbConnection(&DbConnection1);
  DbQuery3.SQL().Add("SELECT SUM(NEW_SALARY) AS NEW FROM EMP_PROS");
  DbQuerySQL.SetName("DbQuerySQL");
  DbQuerySQL.SetDbConnection(&DbConnection1);
  DbQueryDEL.SetName("DbQueryDEL");
  DbQueryDEL.SetDbConnection(&DbConnection1);
  DbQueryDEL.SQL().Add("DELETE FROM QUERY WHERE CODE IS NULL");
  DbQueryIndex.SetName("DbQueryIndex");
  DbQueryIndex.SetDbConnection(&DbConnection1);
  for (TDbDataSet* ds : std::initializer_list<TDbDataSet*>{&DbTableCompany, &TableCompany, &DbTable1, &TablePAybank,
                                                          &DbQuery1, &DbQuery3, &DbQuerySQL, &DbQueryDEL,
                                                          &DbQueryIndex}) {
    ds->DbTableOptions().SetDbRightsCheck(false);
  }
  // The two dataset hooks: encrypted free tables get the administrator
  // password; on a dictionary connection the dictionary handles encryption.
  TablePAybank.SetAfterOpen([this](TDbDataSet&) {
    if (!TablePAybank.DbConnection()->IsDictionaryConnection()) {
      TablePAybank.EnableEncryption(support::AdministratorPassword());
    }
  });
  DbQuery3.SetBeforeOpen([this](TDbDataSet&) {
    if (!DbQuery3.DbConnection()->IsDictionaryConnection()) {
      DbQuery3.SetStatementPassword(support::AdministratorPassword());
      DbQuery3.SetTablePassword("EMP_PROS.KDT", support::AdministratorPassword());
      DbQuery3.SetTablePassword("P_DTRXAW.KDT", support::AdministratorPassword());
    }
  });
}

TMainForm::~TMainForm() = default;

std::string TMainForm::ReadConfiguration() {
  program_folder_ = platform::ProgramFolder();
  platform::IniFile ini(program_folder_ + kConfigFile);
  dictionary_setting_ = ini.ReadString("PATH", "DICTIONARY");
  (void)ini.ReadString("SETTING", "SERVERTYPE");
  return ini.ReadString("PATH", "DIR");
}

void TMainForm::FormCreate() {
  // 1. Credentials, in this order.
  DbDictionary1.SetUserName(support::AdministratorUser());
  DbDictionary1.SetPassword(support::AdministratorPassword());
  for (dbaccess::TDbConnection* c : {&DbConnection2, &DbConnection1, &DbConnectionSetup, &DbConnTmpl, &DbConnectionSup}) {
    c->SetUsername(support::AdministratorUser());
    c->SetPassword(support::AdministratorPassword());
  }
  // 2.-4. Update archive and root folder.
  update_archive_name_ = kUpdateArchive;
  root_folder_ = platform::ProgramFolder();
  std::string dir = ReadConfiguration();
  if (!dir.empty()) root_folder_ = ReadConfiguration();
  if (settings_.root_override) root_folder_ = *settings_.root_override;
  // 5. The register connection.
  try {
    DbConnection2.SetIsConnected(false);
    DbConnection2.SetConnectPath(root_folder_);
    DbConnection2.SetIsConnected(true);
  } catch (const std::exception& e) {
    ui_.MessageBox(e.what() + std::string(kConnectFailed) + DbConnection2.ConnectPath(), "");
  }
  // 6. The register, with the creation offer when it cannot be opened.
  try {
    DbTableCompany.Open();
    return;
  } catch (const std::exception& e) {
    ui_.MessageBox(e.what() + std::string(kRegisterOpenFailed), "");
    if (settings_.explain_missing_register && !platform::FileExists(root_folder_ + "mcompany.KDT")) {
      ui_.MessageBox("The company register " + root_folder_ + "mcompany.KDT was not found.", "");
    }
  }
  try {
    OfferRegisterCreation();
    DbTableCompany.Open();
  } catch (const std::exception& e) {
    ui_.ShowErrorReport(e.what());
  }
}

void TMainForm::OfferRegisterCreation() {
  if (!ui_.Confirm(kCreateRegisterQuestion)) return;
  reg::CreateRegister(DbConnection2.ConnectPath(), false, ui_);
  if (!platform::FileExists(root_folder_ + "mcompany.KDI") && platform::FileExists(root_folder_ + "mcompany.KDT")) {
    DbQuery1.Close();
    DbQuery1.SetDatabaseName("DbConnection2");
    DbQuery1.SQL().Clear();
    DbQuery1.SQL().Add(kCreateIndexSql);
    DbQuery1.ExecSQL();
    DbQuery1.CloseStatement();
    DbQuery1.Close();
    DbTableCompany.Close();
    DbConnection2.SetIsConnected(false);
  }
}

void TMainForm::FormShow() {
  Caption = std::string(kApplicationTitle) + " (" + platform::FormatDateTime("DD MMM YYYY", platform::ProgramFileDate()) +
            ")";
  LabelServerInfo = DbConnection2.ConnectionTypeText() + kServerLabel + TableCompany.Version();
}

void TMainForm::CheckBox2Click() {
  // The run's loop walks this register; a click that reached here during a
  // run would move it.
  if (running_) return;
  bool all = options.Checked("CheckBox2");
  DbTableCompany.First();
  while (!DbTableCompany.Eof()) {
    DbTableCompany.Edit();
    DbTableCompany.FieldByName("MERGE").SetAsString(all ? "1" : "0");
    DbTableCompany.Post();
    DbTableCompany.Next();
  }
}

void TMainForm::CheckBox5Click() {
  bool on = options.Checked("CheckBox5");
  options.SetEnabled("RadioButton1", on);
  options.SetEnabled("RadioButton2", on);
}

void TMainForm::RetrieveCompanyCodes(const std::string& root) {
  std::vector<platform::FoundEntry> entries =
      platform::FindEntries(root + "COMPANY\\*.*", platform::FindAttr::FilesAndDirectories);
  for (const platform::FoundEntry& entry : entries) {
    if (entry.name.find('.') != std::string::npos) continue;
    std::string code = entry.name;
    for (char& ch : code) {
      if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 32);
    }
    // A name the code column cannot hold whole would be registered cut, as
    // a code naming no folder, and every later run would stop on it.
    const int width = DbTableCompany.FieldByName("COMPANY_CODE").Size();
    if (!CodeNamesACompanyFolder(code) || (width > 0 && code.size() > static_cast<std::size_t>(width))) {
      ui_.MessageBox("The folder " + entry.name + " cannot be registered: its name cannot be a company code.", "");
      continue;
    }
    if (DbTableCompany.FindKey({dbaccess::TVariant(code)})) continue;
    if (!ui_.Confirm(kCreateCompanyQuestion + entry.name + " ?")) continue;
    DbConnectionSetup.SetIsConnected(false);
    std::string kdd = root + "COMPANY\\" + code + "\\" + code + ".KDD";
    DbConnectionSetup.SetConnectPath(platform::FileExists(kdd) ? kdd : root + "COMPANY\\" + code);
    TableCompany.Open();
    if (!DbConnectionSetup.IsDictionaryConnection()) TableCompany.EnableEncryption(support::AdministratorPassword());
    TableCompany.Last();
    DbTableCompany.Append();
    DbTableCompany.FieldByName("COMPANY_NAME").SetAsString(TableCompany.FieldByName("company").AsString());
    DbTableCompany.FieldByName("company_code").SetAsString(code);
    DbTableCompany.FieldByName("payroll_access_no").SetAsInteger(0);
    DbTableCompany.Post();
    TableCompany.Close();
    DbConnectionSetup.SetIsConnected(false);
  }
}

schema::UpgradeContext TMainForm::Context() {
  return schema::UpgradeContext{DbConnection1, DbDictionary1, DbTable1, DbQuery1, DbTableCompany, ui_, root_folder_,
                                [this](const std::string& text) { SetEdit1(text); }, [this] { return Edit1; }, {},
                                [this](const schema::ColumnChange& change) {
                                  if (column_changes_ != nullptr) column_changes_->push_back(change);
                                },
                                [this](const std::string& table, std::int64_t rows) {
                                  if (rows_changed_) rows_changed_(table, rows);
                                },
                                &table_shapes_};
}

void TMainForm::SetStatus(StatusLine line, const std::string& text) {
  switch (line) {
    case StatusLine::Edit1: Edit1 = text; break;
    case StatusLine::Edit2: Edit2 = text; break;
    case StatusLine::edtdatabase: edtdatabase = text; break;
  }
  if (OnStatusChanged) OnStatusChanged(line, text);
}

void TMainForm::SetLocked(bool locked) {
  process_enabled_ = !locked;
  grid_enabled_ = !locked;
  options_enabled_ = !locked;
  if (OnLockChanged) OnLockChanged();
}

void TMainForm::Close() {
  if (closed_) return;
  closed_ = true;
  if (OnClose) OnClose();
}

std::vector<RegisterRow> TMainForm::RegisterRows() {
  std::vector<RegisterRow> rows;
  if (!DbTableCompany.Active()) return rows;
  DbTableCompany.First();
  while (!DbTableCompany.Eof()) {
    rows.push_back(RegisterRow{DbTableCompany.FieldByName("COMPANY_CODE").AsString(),
                               DbTableCompany.FieldByName("COMPANY_NAME").AsString(),
                               DbTableCompany.FieldByName("MERGE").AsString()});
    DbTableCompany.Next();
  }
  return rows;
}

void TMainForm::SetSelected(const std::string& code, bool selected) {
  if (!DbTableCompany.FindKey({dbaccess::TVariant(code)})) return;
  DbTableCompany.Edit();
  DbTableCompany.FieldByName("MERGE").SetAsString(selected ? "1" : "");
  DbTableCompany.Post();
}

}  // namespace kx8::console
