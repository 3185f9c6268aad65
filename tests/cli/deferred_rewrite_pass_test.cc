// The column runs write each table once for all of its changes. Upgrading
// the same companies with that and with a rewrite at every change must give
// the same messages, the same files, the same structures (the lines
// `kx8db schema` prints, and the encryption of each table) and the same
// rows: on the demo companies as built, and on companies whose tables lack
// columns, hold them narrower, or hold columns the release does not know.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <iterator>
#include <map>
#include <set>
#include <sstream>

#include "batch_output.h"
#include "cli/batch_run.h"
#include "console/run_driver.h"
#include "dbaccess/db_connection.h"
#include "dbaccess/db_table.h"
#include "support/credentials.h"
#include "testing/temp_dir.h"
#include "tools/demo_builder.h"
#include "tools/inspect.h"

namespace kx8::cli {
namespace {

namespace fs = std::filesystem;

// Everything a pass leaves in a company that the two ways must agree on.
struct CompanyState {
  std::vector<std::string> files;
  std::map<std::string, std::string> tables;  // table -> schema lines, encryption, rows

};


// A change made to a company before the upgrade, through a statement on
// the company (its dictionary when it has one).
struct Damage {
  const char* name;
  std::function<std::vector<std::string>(const std::vector<std::string>& char_columns,
                                         const std::vector<std::string>& all_columns)>
      statements;
};

class DeferredRewritePassTest : public ::testing::Test {
 protected:
  void TearDown() override { console::SetColumnRunsDeferRewrites(true); }

  static std::string Folder(const std::string& root, const tools::DemoCompany& c) {
    return root + "COMPANY\\" + c.code;
  }

  static std::string StatementPath(const std::string& root, const tools::DemoCompany& c) {
    return c.dictionary ? Folder(root, c) + "\\" + c.code + ".kdd" : Folder(root, c);
  }

  static std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      lines.push_back(line);
    }
    return lines;
  }

  static std::string Run(const std::string& root, const std::string& statement, const tools::DemoCompany& c) {
    std::ostringstream out;
    tools::RunStatement(StatementPath(root, c), statement, "", c.dictionary ? "" : support::AdministratorPassword(),
                        out);
    return out.str();
  }

  static std::string Schema(const std::string& root, const tools::DemoCompany& c, const std::string& table) {
    std::ostringstream out;
    if (c.dictionary) {
      tools::DescribeDictionaryTable(StatementPath(root, c), table, "", "", out);
    } else {
      tools::DescribeTable(Folder(root, c) + "\\" + table + ".KDT", out);
    }
    return out.str();
  }

  static bool Encrypted(const std::string& root, const tools::DemoCompany& c, const std::string& table) {
    dbaccess::TDbConnection conn;
    conn.SetDbServerTypes({dbaccess::stDB_REMOTE, dbaccess::stDB_LOCAL});
    conn.SetLoginPrompt(false);
    conn.SetUsername(support::AdministratorUser());
    conn.SetPassword(support::AdministratorPassword());
    conn.SetConnectPath(StatementPath(root, c));
    conn.SetIsConnected(true);
    dbaccess::TDbTable t;
    t.SetDbConnection(&conn);
    t.SetTableName(table);
    t.SetReadOnly(true);
    t.Open();
    const bool encrypted = t.IsTableEncrypted();
    t.Close();
    return encrypted;
  }

  static std::vector<std::string> TableNames(const std::string& root, const tools::DemoCompany& c) {
    std::vector<std::string> names;
    for (const fs::directory_entry& e : fs::directory_iterator(platform_folder(root, c))) {
      if (e.path().extension() == ".KDT") names.push_back(e.path().stem().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  static fs::path platform_folder(const std::string& root, const tools::DemoCompany& c) {
    return fs::path(root) / "COMPANY" / c.code;
  }

  static CompanyState State(const std::string& root, const tools::DemoCompany& c) {
    CompanyState s;
    for (const fs::directory_entry& e : fs::directory_iterator(platform_folder(root, c))) {
      s.files.push_back(e.path().filename().string());
    }
    std::sort(s.files.begin(), s.files.end());
    for (const std::string& table : TableNames(root, c)) {
      std::string text = Schema(root, c, table);
      text += Encrypted(root, c, table) ? "encrypted\n" : "plain\n";
      text += Run(root, "SELECT * FROM \"" + table + ".KDT\"", c);
      s.tables[table] = text;
    }
    return s;
  }

  // The table's columns from its schema lines: all, and the character ones.
  static void Columns(const std::string& schema, std::vector<std::string>* all, std::vector<std::string>* chars) {
    for (const std::string& line : Lines(schema)) {
      std::istringstream in(line);
      std::string kind, name, type;
      in >> kind >> name >> type;
      if (kind != "FIELD") continue;
      all->push_back(name);
      if (type == "4") chars->push_back(name);
    }
  }

  // Builds the demo root, applies the damage to a few tables of every
  // company, upgrades it and returns the shown lines and each company's state.
  std::pair<std::vector<std::string>, std::vector<CompanyState>> Upgrade(const std::string& root, const Damage* damage,
                                                                         bool deferred) {
    tools::BuildDemoRoot(root, tools::DemoOptions{});
    if (damage != nullptr) {
      for (const tools::DemoCompany& c : tools::DemoCompanies()) {
        for (const char* table : {"EMPLOYEE", "EMP_BNK", "CODE", "PAYPARA", "LIST"}) {
          if (!fs::exists(platform_folder(root, c) / (std::string(table) + ".KDT"))) continue;
          std::vector<std::string> all, chars;
          Columns(Schema(root, c, table), &all, &chars);
          for (const std::string& s : damage->statements(chars, all)) {
            Run(root, "ALTER TABLE \"" + std::string(table) + ".KDT\" " + s, c);
          }
        }
      }
    }
    console::SetColumnRunsDeferRewrites(deferred);
    std::ostringstream out, err;
    std::istringstream in;
    // The report refresh takes tables out of the dictionary and puts files
    // from an archive in their place.
    const int rc = BatchMain({"--batch", "--root", root, "--select-all", "--yes", "--set", "CheckBoxVol=1", "--set",
                              "CheckBoxAdv=1"},
                             out, err, in, false);
    // A damaged company may not reach the release (exit 1): the same both ways.
    std::vector<std::string> shown = ShownLines(out.str());
    shown.push_back("exit " + std::to_string(rc));
    std::vector<CompanyState> states;
    for (const tools::DemoCompany& c : tools::DemoCompanies()) states.push_back(State(root, c));
    return {shown, states};
  }

  kx8::testing::TempDir dir_{"kx8-deferred-pass"};
};

// Columns the release adds (dropped here), narrows or widens (narrowed
// here) and does not know (added here).
const Damage kDamages[] = {
    {"as built", nullptr},
    {"columns missing",
     [](const std::vector<std::string>&, const std::vector<std::string>& all) {
       std::vector<std::string> s;
       for (size_t i = all.size() > 3 ? all.size() - 2 : all.size(); i < all.size(); ++i) {
         s.push_back("DROP COLUMN \"" + all[i] + "\"");
       }
       return s;
     }},
    {"columns narrower",
     [](const std::vector<std::string>& chars, const std::vector<std::string>&) {
       std::vector<std::string> s;
       for (size_t i = 0; i < chars.size() && i < 3; ++i) {
         s.push_back("alter column \"" + chars[chars.size() - 1 - i] + "\" \"" + chars[chars.size() - 1 - i] +
                     "\" char(2)");
       }
       return s;
     }},
    {"columns extra",
     [](const std::vector<std::string>&, const std::vector<std::string>&) {
       return std::vector<std::string>{"add column LOCAL_NOTE char(9)", "add column LOCAL_FLAG LOGICAL "};
     }},
};

class EachDamage : public DeferredRewritePassTest, public ::testing::WithParamInterface<size_t> {};

TEST_P(EachDamage, UpgradesTheSameWayAsARewriteAtEveryChange) {
  const Damage& damage = kDamages[GetParam()];
  const Damage* applied = damage.statements ? &damage : nullptr;
  auto [shown_each, each] = Upgrade(dir_.File("each") + "/", applied, false);
  auto [shown_once, once] = Upgrade(dir_.File("once") + "/", applied, true);
  EXPECT_EQ(shown_once, shown_each);
  ASSERT_EQ(once.size(), each.size());
  for (size_t i = 0; i < once.size(); ++i) {
    SCOPED_TRACE(tools::DemoCompanies()[i].code);
    EXPECT_EQ(once[i].files, each[i].files);
    for (const auto& [table, text] : each[i].tables) EXPECT_EQ(once[i].tables[table], text) << table;
  }
}

INSTANTIATE_TEST_SUITE_P(Companies, EachDamage, ::testing::Range<size_t>(0, std::size(kDamages)),
                         [](const ::testing::TestParamInfo<size_t>& param_info) {
                           std::string name = kDamages[param_info.param].name;
                           std::replace(name.begin(), name.end(), ' ', '_');
                           return name;
                         });

}  // namespace
}  // namespace kx8::cli
