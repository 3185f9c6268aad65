// The time-clock procedure: its statement, the library taken from the
// update archive beside the company folders, and the registration on both
// kinds of company.
#include "conversions/time_clock_procedure.h"

#include <filesystem>
#include <fstream>

#include "conversion_fixture.h"
#include "platform/zip_archive.h"

namespace kx8::conversions {
namespace {

namespace fs = std::filesystem;

class TimeClockProcedureTest : public ConversionTest {
 protected:
  // "UPDATEKX8.ZIP" in the root folder with the library and a company
  // table that must stay in the archive.
  void MakeUpdateArchive() {
    const fs::path source = base_ / "source";
    fs::create_directories(source);
    for (const char* name : {"rUzevUroda.kep", "EMPLOYEE.KDT"}) std::ofstream(source / name) << name;
    platform::TZipArchive zip;
    zip.AddMask(source.string() + "/*.*");
    zip.SetZipFilename(root_ + "UPDATEKX8.ZIP");
    ASSERT_EQ(zip.Compress(), platform::TZipResult::Ok) << zip.LastError();
  }
};

TEST_F(TimeClockProcedureTest, TheStatementListsTheSevenParametersAsTheDictionaryExpects) {
  EXPECT_EQ(TimeClockProcedureStatement(),
            "CREATE PROCEDURE rUzevUroda(  company CHAR(255) , dd CHAR(2) , mm CHAR(2) , yy CHAR(4) , "
            "p_no CHAR(15) , emp_no CHAR(12) , err_no CHAR(12) OUTPUT )  FUNCTION ProcessTiming "
            "IN LIBRARY \"...\\rUzevUroda.kep\" ");
}

// The library comes from the archive beside the company folders, whatever
// masks an earlier extraction left; a second registration fails on the
// procedure that exists.
TEST_F(TimeClockProcedureTest, TheLibraryIsExtractedAndTheProcedureRegisteredOnce) {
  MakeTable("EMPLOYEE", Texts({"EMP_NO"}));
  MakeDictionary({{"EMPLOYEE", false}});
  MakeUpdateArchive();
  schema::UpgradeContext& ctx = Context();
  platform::TZipArchive zip;
  zip.AddMask("*.*");  // as the backup leaves the list
  RegisterTimeClockProcedure(ctx, zip, "UPDATEKX8.ZIP");
  EXPECT_TRUE(fs::exists(base_ / "rUzevUroda.kep"));
  EXPECT_FALSE(fs::exists(base_ / "EMPLOYEE.KDT"));
  EXPECT_TRUE(ui_.Messages().empty()) << ui_.Messages().front();
  EXPECT_THROW(RegisterTimeClockProcedure(ctx, zip, "UPDATEKX8.ZIP"), std::exception);
}

// Without the archive the administrator is told where it was looked for,
// and the registration is still made; a free-table company cannot hold it.
TEST_F(TimeClockProcedureTest, WithoutTheArchiveTheRegistrationIsStillMade) {
  MakeTable("EMPLOYEE", Texts({"EMP_NO"}));
  MakeDictionary({{"EMPLOYEE", false}});
  schema::UpgradeContext& ctx = Context();
  platform::TZipArchive zip;
  RegisterTimeClockProcedure(ctx, zip, "UPDATEKX8.ZIP");
  EXPECT_EQ(ui_.Messages(), std::vector<std::string>{"message: " + root_ + "UPDATEKX8.ZIP not existed in directory "});
  EXPECT_THROW(RegisterTimeClockProcedure(ctx, zip, "UPDATEKX8.ZIP"), std::exception);

  Fresh();
  MakeTable("EMPLOYEE", Texts({"EMP_NO"}));
  schema::UpgradeContext& free_tables = Context();
  EXPECT_THROW(RegisterTimeClockProcedure(free_tables, zip, "UPDATEKX8.ZIP"), std::exception);
}

}  // namespace
}  // namespace kx8::conversions
