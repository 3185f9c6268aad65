// The claim setup rebuild and the scheme claim rows: MEDTABLE's tiers into
// numbered MEDSCH rows with ten MEDTBL tiers each, a setup left untouched
// when something the rebuild needs is missing, and runs after the first
// that change nothing.
#include "conversions/claim_setup.h"

#include "employee_fixture.h"

namespace kx8::conversions {
namespace {

using dbaccess::ftFloat;
using dbaccess::ftInteger;
using dbaccess::ftString;

const std::vector<std::string> kSetupTables = {"MEDTABLE", "MEDSCH", "MEDTBL", "TRNNO", "ALOCLAIM"};
const std::vector<std::string> kSetupFields = {"SCHEME_CODE", "CLAIM_CODE", "SUBCLAIM", "CLAIMTYPE",
                                               "SUBLIMIT",    "TRNNO",      "ITEMTYPE"};
const std::vector<std::string> kTierFields = {"TRNNO", "MAX_CLAIM", "FROM", "TO"};

Row Limit(const char* category, const char* code, const char* max, const char* from, const char* to) {
  return {{"CATEGORY", category}, {"MEDICAL_CODE", code}, {"MAX_CLAIM", max}, {"FROM", from}, {"TO", to}};
}

class ClaimSetupTest : public EmployeeTablesTest {
 protected:
  // The tables as the release has them, with a setup of an older release
  // in MEDSCH and MEDTBL, and the counter far past the rebuild's numbers.
  void MakeSetup(const std::vector<Row>& limits, const std::string& skip = "") {
    const std::map<std::string, std::vector<Row>> rows = {
        {"MEDTABLE", limits},
        {"MEDSCH", {{{"SCHEME_CODE", "OLD"}, {"CLAIM_CODE", "GP"}, {"TRNNO", "101"}}}},
        {"MEDTBL", {{{"TRNNO", "101"}, {"MAX_CLAIM", "500"}, {"FROM", "0"}, {"TO", "99"}}}},
        {"TRNNO", {{{"AUTO2", "500"}, {"AUTO6", "7"}}}},
    };
    for (const std::string& table : kSetupTables) {
      if (table == skip) continue;
      auto it = rows.find(table);
      MakeReleaseTable(table, it == rows.end() ? std::vector<Row>{} : it->second);
    }
    // The index the run makes before the scheme claim rows.
    if (skip == "MEDSCH") return;
    WithTable("MEDSCH", [](dbaccess::TDbTable& t) {
      t.AddIndex("  SCHEME_CODE2", "SCHEME_CODE;CLAIM_CODE;SUBCLAIM;CLAIMTYPE", {dbaccess::ixExpression});
    });
  }

  std::vector<std::string> SetupRows() { return Rows("MEDSCH", kSetupFields, "SCHEME_CODE;CLAIM_CODE;SUBCLAIM;CLAIMTYPE"); }
  std::vector<std::string> Tiers() { return Rows("MEDTBL", kTierFields, "TRNNO;ID"); }
  std::string Counter() { return Rows("TRNNO", {"AUTO2"}).at(0); }
};

// The tiers of a number: those given, then empty ones up to ten.
std::vector<std::string> TiersOf(const std::string& number, const std::vector<std::string>& filled) {
  std::vector<std::string> rows;
  for (const std::string& f : filled) rows.push_back(number + "|" + f);
  while (rows.size() < kClaimTiers) rows.push_back(number + "|||");
  return rows;
}

TEST_F(ClaimSetupTest, MedtableBecomesNumberedSetupRowsWithTenTiersEach) {
  std::vector<Row> limits = {Limit("EXE", "GP", "300", "0", "1"), Limit("EXE", "GP", "500", "1", "5"),
                             Limit("EXE", "GP", "800", "5", "99"),
                             // a tier without a limit is filled again by the next row
                             Limit("NEX", "GP", "0", "0", "1"), Limit("NEX", "GP", "200", "0", "99")};
  for (int tier = 1; tier <= 11; ++tier) {
    const std::string n = std::to_string(tier);
    limits.push_back(Limit("EXE", "DENT", (n + "0").c_str(), n.c_str(), n.c_str()));
  }
  MakeSetup(limits);
  RebuildClaimSetup(Context());
  EXPECT_TRUE(ui_.Messages().empty()) << ::testing::PrintToString(ui_.Messages());

  // Numbered from 111 in key order, whatever the counter held; the old
  // setup is gone.
  EXPECT_EQ(SetupRows(), (std::vector<std::string>{"EXE|DENT||0||111|F", "EXE|GP||0||112|F", "NEX|GP||0||113|F"}));
  EXPECT_EQ(Counter(), "113");
  std::vector<std::string> want;
  std::vector<std::string> dental;
  for (int tier = 1; tier <= 10; ++tier) {  // the eleventh is dropped
    const std::string n = std::to_string(tier);
    dental.push_back(n + "0|" + n + "|" + n);
  }
  for (const auto& part : {TiersOf("111", dental), TiersOf("112", {"300|0|1", "500|1|5", "800|5|99"}),
                           TiersOf("113", {"200|0|99"})}) {
    want.insert(want.end(), part.begin(), part.end());
  }
  EXPECT_EQ(Tiers(), want);

  // The scheme claim rows added to it since stay, and nothing changes.
  MakeReleaseTable("EMPLOYEE", {{{"EMP_NO", "E1"}, {"BENEFIT_SCHEME", "EXE"}}});
  WithTable("ALOCLAIM", [](dbaccess::TDbTable& t) {
    t.Append();
    t.FieldByName("MEDICAL").SetAsString("GP");
    t.FieldByName("CODE").SetAsString("CONSULT");
    t.Post();
  });
  AddSchemeClaimRows(Context());
  const auto once = Snapshot({"MEDSCH", "MEDTBL", "TRNNO"});
  RebuildClaimSetup(Context());
  EXPECT_EQ(Snapshot({"MEDSCH", "MEDTBL", "TRNNO"}), once);
}

TEST_F(ClaimSetupTest, SomethingMissingLeavesTheSetupAsItWas) {
  struct Case {
    const char* what;
    std::function<void()> make;
    const char* named;  // in the message
  };
  const std::vector<dbaccess::TFieldDef> setup_without_item_type = {
      {"SCHEME_CODE", ftString, 8, 0}, {"CLAIM_CODE", ftString, 8, 0}, {"TRNNO", ftInteger, 0, 0},
      {"CLAIMTYPE", ftString, 1, 0}};
  const Case cases[] = {
      {"MEDSCH without ITEMTYPE",
       [&] {
         MakeSetup({Limit("EXE", "GP", "300", "0", "1")}, "MEDSCH");
         MakeTable("MEDSCH", setup_without_item_type, {{"OLD", "GP", "101", "0"}});
       },
       "MEDSCH has no field ITEMTYPE"},
      {"TRNNO without AUTO2",
       [this] {
         MakeSetup({Limit("EXE", "GP", "300", "0", "1")}, "TRNNO");
         MakeTable("TRNNO", {{"TRNNO", ftInteger, 0, 0}, {"AUTO6", ftInteger, 0, 0}}, {{"1", "2"}});
       },
       "TRNNO has no counter auto2"},
      {"TRNNO without its row",
       [this] {
         MakeSetup({Limit("EXE", "GP", "300", "0", "1")}, "TRNNO");
         MakeReleaseTable("TRNNO");
       },
       "TRNNO has no counter row"},
      {"MEDTABLE without FROM",
       [this] {
         MakeSetup({}, "MEDTABLE");
         MakeTable("MEDTABLE", {{"CATEGORY", ftString, 8, 0}, {"MEDICAL_CODE", ftString, 8, 0},
                                  {"ID", ftInteger, 0, 0}, {"MAX_CLAIM", ftFloat, 0, 0}, {"TO", ftFloat, 0, 0}},
                     {{"EXE", "GP", "1", "300", "1"}});
         WithTable("MEDTABLE", [](dbaccess::TDbTable& m) { m.AddIndex("PRIMARY", "CATEGORY;MEDICAL_CODE;ID", {}); });
       },
       "MEDTABLE has no field FROM"},
      {"no MEDTABLE", [this] { MakeSetup({}, "MEDTABLE"); }, "MEDTABLE"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TearDown();
    SetUp();
    ui_.Clear();
    c.make();
    const auto before = Snapshot({"MEDSCH", "MEDTBL", "TRNNO"});
    EXPECT_NO_THROW(RebuildClaimSetup(Context()));
    EXPECT_EQ(Snapshot({"MEDSCH", "MEDTBL", "TRNNO"}), before);
    const std::vector<std::string> shown = ui_.Messages();
    ASSERT_EQ(shown.size(), 1u) << ::testing::PrintToString(shown);
    EXPECT_NE(shown[0].find(kClaimSetupKept), std::string::npos) << shown[0];
    EXPECT_NE(shown[0].find(c.named), std::string::npos) << shown[0];
  }
}

TEST_F(ClaimSetupTest, EverySchemeInUseGetsAClaimRowPerAllowanceOnce) {
  MakeSetup({});
  MakeReleaseTable("EMPLOYEE", {{{"EMP_NO", "E1"}, {"BENEFIT_SCHEME", "EXE"}},
                                {{"EMP_NO", "E2"}, {"BENEFIT_SCHEME", "EXE"}},
                                {{"EMP_NO", "E3"}}});  // no scheme: a scheme like any other
  WithTable("ALOCLAIM", [](dbaccess::TDbTable& t) {
    for (auto [medical, code, max] : {std::tuple{"GP", "CONSULT", "50"}, std::tuple{"DENT", "SCALING", ""}}) {
      t.Append();
      t.FieldByName("MEDICAL").SetAsString(medical);
      t.FieldByName("CODE").SetAsString(code);
      t.FieldByName("MAX_CLAIM").SetAsString(max);
      t.Post();
    }
  });
  // A claim row the company set up itself keeps its limit.
  WithTable("MEDSCH", [](dbaccess::TDbTable& t) {
    t.Append();
    for (auto [field, value] : {std::pair{"SCHEME_CODE", "EXE"}, {"CLAIM_CODE", "GP"}, {"SUBCLAIM", "CONSULT"},
                                {"CLAIMTYPE", "1"}, {"SUBLIMIT", "75"}}) {
      t.FieldByName(field).SetAsString(value);
    }
    t.Post();
  });
  AddSchemeClaimRows(Context());
  const std::vector<std::string> want = {"|DENT|SCALING|1|||",    "|GP|CONSULT|1|50||",  "EXE|DENT|SCALING|1|||",
                                         "EXE|GP|CONSULT|1|75||", "OLD|GP||||101|"};
  EXPECT_EQ(SetupRows(), want);
  AddSchemeClaimRows(Context());
  EXPECT_EQ(SetupRows(), want);
}

}  // namespace
}  // namespace kx8::conversions
