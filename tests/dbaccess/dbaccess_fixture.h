// Shared set-up for the access layer's tests: a temporary data folder with a
// connection to it, tables made directly through the engine (so that the
// layer is checked against data it did not write itself), and a raw engine
// view of a table to check what the layer wrote.
#ifndef KX8_TESTS_DBACCESS_DBACCESS_FIXTURE_H_
#define KX8_TESTS_DBACCESS_DBACCESS_FIXTURE_H_

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "dbaccess/db_connection.h"
#include "dbaccess/db_errors.h"
#include "dbaccess/db_query.h"
#include "dbaccess/db_table.h"
#include "dbe/dbe.h"
#include "testing/temp_dir.h"

namespace kx8test {

using kx8::testing::TempDir;

using namespace kx8::dbaccess;  // NOLINT: the tests speak the layer's names

inline std::string EngineText() {
  uint32_t code = 0;
  char buf[DBE_MAX_ERROR_LEN + 1] = {};
  uint16_t len = sizeof buf;
  DbGetLastError(&code, buf, &len);
  return std::to_string(code) + ": " + buf;
}

#define ENGINE_OK(call) ASSERT_EQ((call), 0u) << #call << " -> " << ::kx8test::EngineText()

using Row = std::vector<std::pair<std::string, std::string>>;

struct Tag {
  std::string name;
  std::string expr;
  uint32_t options;
};

// A table handle opened directly on the engine, for set-up and checks.
class RawTable {
 public:
  RawTable(const std::string& folder, const std::string& name, uint32_t mode = DBE_OPEN_SHARED) {
    EXPECT_EQ(DbConnect(folder.c_str(), DBE_SERVER_LOCAL, "", "", 0, &conn_), 0u) << EngineText();
    EXPECT_EQ(DbOpenTable(conn_, name.c_str(), nullptr, DBE_TABLE_KDT, DBE_CHAR_ANSI, DBE_LOCK_PROPRIETARY,
                          DBE_RIGHTS_IGNORE, mode, &table_),
              0u)
        << name << " -> " << EngineText();
  }
  ~RawTable() {
    if (table_ != 0) DbCloseTable(table_);
    if (conn_ != 0) DbDisconnect(conn_);
  }
  RawTable(const RawTable&) = delete;
  RawTable& operator=(const RawTable&) = delete;

  DBHANDLE handle() const { return table_; }

  // The value as the engine's text form (dates YYYYMMDD, logical T/F).
  std::string Get(const std::string& field) {
    char buf[4096] = {};
    uint32_t len = sizeof buf;
    EXPECT_EQ(DbGetString(table_, field.c_str(), buf, &len), 0u) << EngineText();
    return std::string(buf, len);
  }
  bool IsEmpty(const std::string& field) {
    uint16_t e = 0;
    EXPECT_EQ(DbIsEmpty(table_, field.c_str(), &e), 0u) << EngineText();
    return e != 0;
  }
  // The bytes of a field in the current row's record image.
  std::string Bytes(const std::string& field, size_t width) {
    std::vector<uint8_t> rec(65536);
    uint32_t len = static_cast<uint32_t>(rec.size());
    EXPECT_EQ(DbGetRecord(table_, rec.data(), &len), 0u) << EngineText();
    uint32_t offset = 0;
    EXPECT_EQ(DbGetFieldOffset(table_, field.c_str(), &offset), 0u) << EngineText();
    return std::string(reinterpret_cast<const char*>(rec.data()) + offset, width);
  }
  void Goto(uint32_t record) { EXPECT_EQ(DbGotoRecord(table_, record), 0u) << EngineText(); }
  uint32_t IndexOptions(const std::string& tag) {
    DBHANDLE ix = 0;
    EXPECT_EQ(DbGetIndexHandle(table_, tag.c_str(), &ix), 0u) << EngineText();
    uint32_t options = 0;
    EXPECT_EQ(DbGetIndexOptions(ix, &options), 0u) << EngineText();
    return options;
  }
  std::string IndexExpr(const std::string& tag) {
    DBHANDLE ix = 0;
    EXPECT_EQ(DbGetIndexHandle(table_, tag.c_str(), &ix), 0u) << EngineText();
    char buf[256] = {};
    uint16_t len = sizeof buf;
    EXPECT_EQ(DbGetIndexExpr(ix, buf, &len), 0u) << EngineText();
    return buf;
  }
  uint32_t Count() {
    uint32_t n = 0;
    EXPECT_EQ(DbGetRecordCount(table_, DBE_COUNT_ALL, &n), 0u) << EngineText();
    return n;
  }

 private:
  DBHANDLE conn_ = 0;
  DBHANDLE table_ = 0;
};

// Creates a table in folder through the engine, with index tags and rows
// given as field texts.
inline void MakeTable(const std::string& folder, const std::string& name, const std::string& fields,
                      const std::vector<Row>& rows = {}, const std::vector<Tag>& tags = {}) {
  DBHANDLE conn = 0, t = 0;
  ASSERT_EQ(DbConnect(folder.c_str(), DBE_SERVER_LOCAL, "", "", 0, &conn), 0u) << EngineText();
  ASSERT_EQ(DbCreateTable(conn, name.c_str(), nullptr, DBE_TABLE_KDT, DBE_CHAR_ANSI, DBE_LOCK_PROPRIETARY,
                          DBE_RIGHTS_IGNORE, 0, fields.c_str(), 0, &t),
            0u)
      << EngineText();
  for (const Tag& tag : tags) {
    ENGINE_OK(DbCreateIndex(t, nullptr, tag.name.c_str(), tag.expr.c_str(), nullptr, nullptr, tag.options, 0, nullptr));
  }
  for (const Row& row : rows) {
    ENGINE_OK(DbAppendRecord(t));
    for (const auto& [field, value] : row) {
      ENGINE_OK(DbSetField(t, field.c_str(), value.c_str(), static_cast<uint32_t>(value.size())));
    }
    ENGINE_OK(DbWriteRecord(t));
  }
  ENGINE_OK(DbCloseTable(t));
  ENGINE_OK(DbDisconnect(conn));
}

// The values of one field over the dataset, first row to last.
inline std::vector<std::string> Column(TDbDataSet& ds, const std::string& field) {
  std::vector<std::string> out;
  ds.First();
  while (!ds.Eof()) {
    out.push_back(ds.FieldByName(field).AsString());
    ds.Next();
  }
  return out;
}

// Runs f and returns the layer error it raised (fails the test when none).
template <typename F>
EDbEngineError EngineErrorOf(F f) {
  try {
    f();
  } catch (const EDbEngineError& e) {
    return e;
  }
  ADD_FAILURE() << "no EDbEngineError was raised";
  return EDbEngineError("", 0);
}

class DbAccessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    conn_.SetName("DbConnection1");
    conn_.SetConnectPath(dir_.path());
    conn_.SetDbServerTypes({stDB_REMOTE, stDB_LOCAL});
  }

  // A table on the fixture's connection.
  void Attach(TDbDataSet& ds) { ds.SetDbConnection(&conn_); }

  TempDir dir_;
  TDbConnection conn_;
};

}  // namespace kx8test

#endif  // KX8_TESTS_DBACCESS_DBACCESS_FIXTURE_H_
