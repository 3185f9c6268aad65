// A table held locked by another program reaches the caller as the engine's
// error naming the file, after the bounded wait, instead of a hang.
#include "dbaccess_fixture.h"
#include "testing/held_lock.h"

namespace kx8test {
namespace {

TEST_F(DbAccessTest, AHeldTableLockFailsThePostNamingTheFile) {
  MakeTable(dir_.path(), "EMPLOYEE", "EMP_NO,Char,6;");
  ENGINE_OK(DbSetLockWait(200));
  TDbTable table;
  Attach(table);
  table.SetTableName("EMPLOYEE");
  table.Open();
  {
    kx8::testing::HeldLock other(dir_.File("EMPLOYEE.KDT"), (1ull << 40) + 1);  // the header lock
    ASSERT_TRUE(other.held());
    table.Append();
    table.FieldByName("EMP_NO").SetAsString("E1");
    EDbEngineError e = EngineErrorOf([&] { table.Post(); });
    EXPECT_EQ(e.ErrorCode(), static_cast<uint32_t>(DBE_TABLE_IN_USE));
    EXPECT_NE(e.Message().find("locked by another program"), std::string::npos) << e.Message();
    EXPECT_NE(e.Message().find(dir_.File("EMPLOYEE.KDT")), std::string::npos) << e.Message();
    table.Cancel();
  }
  table.Append();
  table.FieldByName("EMP_NO").SetAsString("E1");
  table.Post();
  EXPECT_EQ(Column(table, "EMP_NO"), std::vector<std::string>{"E1"});
  table.Close();
  ENGINE_OK(DbSetLockWait(5000));
}

}  // namespace
}  // namespace kx8test
