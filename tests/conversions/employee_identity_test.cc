// The corrections of EMPLOYEE: termination status, identity and income tax
// numbers without "/", and income tax numbers from employment passes.
#include "conversions/employee_identity.h"

#include "conversion_fixture.h"

namespace kx8::conversions {
namespace {

class EmployeeIdentityTest : public ConversionTest {
 protected:
  void MakeEmployees(std::vector<std::vector<std::string>> rows, bool dictionary = false) {
    std::vector<dbaccess::TFieldDef> fields =
        Texts({"EMP_NO", "TERMINATION_STATUS", "NEW_IC", "INCOME_TAX_AC_NO", "EMP_PASS_AC_NO"}, 16);
    fields.push_back({"TERMINATION_DATE", dbaccess::ftDate, 0, 0});
    // NEW_IC has an index of its own: removing its slashes must not move rows under the walk.
    MakeCompany({{"EMPLOYEE", fields, {"EMP_NO", "NEW_IC"}, std::move(rows)}}, dictionary);
  }
  std::vector<std::string> Employees() {
    return SortedRows("EMPLOYEE", {"EMP_NO", "TERMINATION_STATUS", "NEW_IC", "INCOME_TAX_AC_NO", "EMP_PASS_AC_NO"});
  }
};

TEST_F(EmployeeIdentityTest, EachCorrectionChangesWhatItMustAndASecondPassNothing) {
  using Conversion = void (*)(schema::UpgradeContext&);
  struct Case {
    const char* what;
    Conversion conversion;
    std::vector<std::vector<std::string>> rows;  // EMP_NO, status, NEW_IC, tax, pass, termination date
    std::vector<std::string> want;
  };
  const Case cases[] = {
      {"termination status",
       UpdateTerminationStatus,
       {{"E1", "", "", "", "", "2011-06-30"}, {"E2"}, {"E3", "F", "", "", "", "2011-06-30"}, {"E4", "T"}},
       {"E1|T|||", "E2|F|||", "E3|F|||", "E4|T|||"}},
      {"slashes",
       RemoveIdentitySlashes,
       {{"E1", "", "12/34/5", "12/34/5"}, {"E2", "", "/", "/"}, {"E3", "", "S1234567/A", "A/"}, {"E4", "", "", ""}},
       {"E1||12345|12345|", "E2||/|/|", "E3||S1234567A|A|", "E4||||"}},
      {"pass numbers",
       IncomeTaxNumberFromPass,
       {{"E1", "", "", "", "G1234567N"},
        {"E2", "", "", "", "g1234567n"},
        {"E3", "", "", "", "1234567"},
        {"E4", "", "", "T0001", "G7654321X"},
        {"E5", "", "", "", ""}},
       {"E1|||G1234567N|G1234567N", "E2||||g1234567n", "E3||||1234567", "E4|||T0001|G7654321X", "E5||||"}},
  };
  for (bool dictionary : {false, true}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.what) + (dictionary ? ", dictionary-bound" : ", free tables"));
      Fresh();
      MakeEmployees(c.rows, dictionary);
      schema::UpgradeContext& ctx = Context();
      c.conversion(ctx);
      EXPECT_EQ(Employees(), c.want);
      c.conversion(ctx);
      EXPECT_EQ(Employees(), c.want);
    }
  }
}

TEST_F(EmployeeIdentityTest, SlashRemovalShowsEachIdentityNumberAsItWas) {
  MakeEmployees({{"E1", "", "12/34/5"}, {"E2", "", "S7654321B"}});
  RemoveIdentitySlashes(Context());
  EXPECT_EQ(edit1_history_, (std::vector<std::string>{"UPDATING : 12/34/5", "UPDATING : S7654321B"}));
}

}  // namespace
}  // namespace kx8::conversions
