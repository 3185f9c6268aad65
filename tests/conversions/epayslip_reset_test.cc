// The e-Payslip password reset under each combination of its options, on
// an encrypted free table and through a dictionary.
#include "conversions/epayslip_reset.h"

#include "../schema/schema_fixture.h"

namespace kx8::conversions {
namespace {

using namespace dbaccess;
using schema::SchemaTest;
namespace fs = std::filesystem;

class EPayslipResetTest : public SchemaTest {
 protected:
  // EMPLOYEE as the application keeps it, in lower- and upper-case names.
  void MakeEmployees(bool encrypted) {
    MakeTable("EMPLOYEE", {{"EMP_NO", ftString, 12, 0}, {"new_ic", ftString, 16, 0}, {"E_PASS", ftString, 20, 0}},
              {{"E1", "S1234567A", ""},      // identity number, no password
               {"E2", "", ""},               // employee number only
               {"E3", "S7654321B", "mine"},  // a password of its own
               {"", "", ""}},                // neither number
              encrypted);
  }

  std::vector<std::string> Passwords() {
    TDbScopedTable t;
    t.Connection().SetUsername(support::AdministratorUser());
    t.Connection().SetPassword(support::AdministratorPassword());
    t.Connection().SetConnectPath(kdd_.empty() ? folder_ : kdd_);
    t.Table().SetTableName("EMPLOYEE");
    t.Table().DbTableOptions().SetDbRightsCheck(false);
    t.Table().Open();
    if (kdd_.empty() && t.Table().IsTableEncrypted()) t.Table().EnableEncryption(support::AdministratorPassword());
    std::vector<std::string> out;
    for (t.Table().First(); !t.Table().Eof(); t.Table().Next()) {
      out.push_back(t.Table().FieldByName("E_PASS").AsString());
    }
    return out;
  }

  bool StoredEncrypted() {
    TDbScopedTable t;
    t.Connection().SetConnectPath(folder_);
    t.Table().SetTableName("EMPLOYEE");
    t.Table().Open();
    return t.Table().IsTableEncrypted();
  }
};

const std::vector<std::string> kUntouched = {"", "", "mine", ""};

TEST_F(EPayslipResetTest, PasswordsFollowTheOptions) {
  struct Case {
    const char* what;
    EPayslipResetOptions options;
    std::vector<std::string> want;
  };
  const Case cases[] = {
      {"unticked, Update All shown", {false, true, false}, kUntouched},
      {"unticked, Update Blank Field shown", {false, false, true}, kUntouched},
      {"Update Blank Field", {true, false, true}, {"S1234567A", "E2", "mine", ""}},
      {"Update All", {true, true, false}, {"S1234567A", "E2", "S7654321B", ""}},
      {"ticked, neither button", {true, false, false}, kUntouched},
  };
  for (bool dictionary : {false, true}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.what) + (dictionary ? ", dictionary-bound" : ", free tables"));
      TearDown();
      SetUp();
      ui_.Clear();
      MakeEmployees(!dictionary);
      if (dictionary) MakeDictionary({{"EMPLOYEE", true}});
      schema::UpgradeContext& ctx = Context();
      ResetEPayslipPasswords(ctx, c.options);
      EXPECT_EQ(Passwords(), c.want);
      EXPECT_FALSE(ctx.work_table.Active());
      EXPECT_TRUE(ui_.Messages().empty());
      // Unticked, the table is not even opened: a free one stays encrypted.
      if (!dictionary && !c.options.reset) {
        EXPECT_TRUE(StoredEncrypted());
      }
    }
  }
}

TEST_F(EPayslipResetTest, AnEmployeeTableInUseOrMissingEndsTheRun) {
  MakeEmployees(true);
  schema::UpgradeContext& ctx = Context();
  const EPayslipResetOptions reset{true, true, false};
  {
    TDbScopedTable other;
    other.Connection().SetConnectPath(folder_);
    other.Table().SetTableName("EMPLOYEE");
    other.Table().Open();
    EXPECT_THROW(ResetEPayslipPasswords(ctx, reset), std::exception);
    EXPECT_NO_THROW(ResetEPayslipPasswords(ctx, {false, true, false}));
  }
  EXPECT_EQ(Passwords(), kUntouched);
  fs::remove(base_ / "COMPANY" / "ACME" / "EMPLOYEE.KDT");
  EXPECT_THROW(ResetEPayslipPasswords(ctx, reset), std::exception);
  EXPECT_FALSE(ctx.work_table.Active());
}

}  // namespace
}  // namespace kx8::conversions
