// Shared set-up for the engine's tests: a temporary data folder, a
// connection to it, and helpers that turn engine results into test failures
// carrying the engine's error text.
#ifndef KX8_TESTS_ENGINE_ENGINE_FIXTURE_H_
#define KX8_TESTS_ENGINE_ENGINE_FIXTURE_H_

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "dbe/dbe.h"
#include "testing/temp_dir.h"

namespace kx8test {

using kx8::testing::TempDir;

inline std::string LastErrorText() {
  uint32_t code = 0;
  char buf[DBE_MAX_ERROR_LEN + 1];
  uint16_t len = sizeof buf;
  DbGetLastError(&code, buf, &len);
  return std::to_string(code) + ": " + buf;
}

#define DBE_OK(call)                                                    \
  do {                                                                  \
    DBRESULT rc_ = (call);                                              \
    ASSERT_EQ(rc_, 0u) << #call << " -> " << ::kx8test::LastErrorText(); \
  } while (0)

#define DBE_FAILS_WITH(code, call)                                        \
  do {                                                                    \
    DBRESULT rc_ = (call);                                                \
    EXPECT_EQ(rc_, static_cast<DBRESULT>(code)) << #call << " -> " << ::kx8test::LastErrorText(); \
  } while (0)

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(DbConnect(dir_.path().c_str(), DBE_SERVER_LOCAL, "", "", 0, &conn_), 0u) << LastErrorText();
  }
  void TearDown() override {
    if (conn_ != 0) DbDisconnect(conn_);
  }

  // Creates a table and closes it.
  void Create(const std::string& name, const std::string& fields) {
    DBHANDLE t = 0;
    DBE_OK(DbCreateTable(conn_, name.c_str(), nullptr, DBE_TABLE_KDT, DBE_CHAR_ANSI, DBE_LOCK_PROPRIETARY,
                         DBE_RIGHTS_IGNORE, 0, fields.c_str(), 0, &t));
    DBE_OK(DbCloseTable(t));
  }

  DBHANDLE Open(const std::string& name, uint32_t mode = DBE_OPEN_SHARED) {
    DBHANDLE t = 0;
    DBRESULT rc = DbOpenTable(conn_, name.c_str(), nullptr, DBE_TABLE_KDT, DBE_CHAR_ANSI, DBE_LOCK_PROPRIETARY,
                              DBE_RIGHTS_IGNORE, mode, &t);
    EXPECT_EQ(rc, 0u) << "open " << name << " -> " << LastErrorText();
    return t;
  }

  DBRESULT TryOpen(const std::string& name, uint32_t mode, DBHANDLE* t) {
    return DbOpenTable(conn_, name.c_str(), nullptr, DBE_TABLE_KDT, DBE_CHAR_ANSI, DBE_LOCK_PROPRIETARY,
                       DBE_RIGHTS_IGNORE, mode, t);
  }

  // Appends one row from (field, text) pairs.
  void AppendRow(DBHANDLE t, const std::vector<std::pair<std::string, std::string>>& values) {
    DBE_OK(DbAppendRecord(t));
    for (const auto& [f, v] : values) DBE_OK(DbSetField(t, f.c_str(), v.c_str(), static_cast<uint32_t>(v.size())));
    DBE_OK(DbWriteRecord(t));
  }

  static std::string Get(DBHANDLE t, const std::string& field) {
    char buf[70000];
    uint32_t len = sizeof buf;
    DBRESULT rc = DbGetString(t, field.c_str(), buf, &len);
    EXPECT_EQ(rc, 0u) << "get " << field << " -> " << LastErrorText();
    return rc == 0 ? std::string(buf, len) : std::string("<error>");
  }

  static bool IsEmpty(DBHANDLE t, const std::string& field) {
    uint16_t e = 0;
    EXPECT_EQ(DbIsEmpty(t, field.c_str(), &e), 0u) << LastErrorText();
    return e != 0;
  }

  static bool Eof(DBHANDLE t) {
    uint16_t e = 0;
    DbAtEOF(t, &e);
    return e != 0;
  }

  // The values of one field over the whole table in the handle's order.
  static std::vector<std::string> Column(DBHANDLE nav, DBHANDLE table, const std::string& field) {
    std::vector<std::string> out;
    EXPECT_EQ(DbGotoTop(nav), 0u) << LastErrorText();
    while (!Eof(table)) {
      out.push_back(Get(table, field));
      EXPECT_EQ(DbSkip(nav, 1), 0u) << LastErrorText();
    }
    return out;
  }

  static uint32_t Count(DBHANDLE t, uint16_t option = DBE_COUNT_ALL) {
    uint32_t n = 0;
    EXPECT_EQ(DbGetRecordCount(t, option, &n), 0u) << LastErrorText();
    return n;
  }

  TempDir dir_;
  DBHANDLE conn_ = 0;
};

}  // namespace kx8test

#endif  // KX8_TESTS_ENGINE_ENGINE_FIXTURE_H_
