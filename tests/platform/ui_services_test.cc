#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "platform/console_ui.h"
#include "platform/scripted_ui.h"

namespace kx8::platform {
namespace {

using Lines = std::vector<std::string>;

TEST(ScriptedUiTest, RecordsEveryCallInOrderAndAnswersFromTheScript) {
  ScriptedUi ui{true};
  ui.Answer({false, true});
  UiServices& services = ui;

  EXPECT_TRUE(services.Confirm("Do you wish to proceed this function ?"));
  services.SetWindowCursor(Cursor::DatabaseWait);
  services.SetScreenCursor(Cursor::HourGlass);
  EXPECT_FALSE(services.Confirm("Do you want to create company code acme ?"));
  services.ProcessMessages();
  services.MessageBox("Table mcompany.KDT Could Not Be Created", "Table Creation Failure");
  services.MessageBox("E0001", "");
  services.ShowErrorReport("DbQuery1: table not found");
  services.SetScreenCursor(Cursor::Default);
  EXPECT_TRUE(services.Confirm("Create mcompany.kdt on the kx8 folder?"));
  EXPECT_EQ(ui.PendingAnswers(), 0u);

  EXPECT_EQ(ui.Lines(), (Lines{
                            "confirm: Do you wish to proceed this function ?",
                            "window cursor: database-wait",
                            "screen cursor: hourglass",
                            "confirm: Do you want to create company code acme ?",
                            "pump",
                            "message: Table Creation Failure: Table mcompany.KDT Could Not Be Created",
                            "message: E0001",
                            "error: DbQuery1: table not found",
                            "screen cursor: default",
                            "confirm: Create mcompany.kdt on the kx8 folder?",
                        }));
  EXPECT_EQ(ui.Messages(), (Lines{
                               "confirm: Do you wish to proceed this function ?",
                               "confirm: Do you want to create company code acme ?",
                               "message: Table Creation Failure: Table mcompany.KDT Could Not Be Created",
                               "message: E0001",
                               "error: DbQuery1: table not found",
                               "confirm: Create mcompany.kdt on the kx8 folder?",
                           }));
}

TEST(ScriptedUiTest, AConfirmationBeyondTheScriptFailsLoudly) {
  ScriptedUi ui{true};
  EXPECT_TRUE(ui.Confirm("first"));
  EXPECT_THROW(ui.Confirm("second"), UnscriptedConfirmation);
  // Also visible in the transcript, for code that catches the exception.
  EXPECT_EQ(ui.Lines(), (Lines{"confirm: first", "confirm: second (no scripted answer)"}));
  EXPECT_THROW(ui.Confirm("third"), UnscriptedConfirmation);
}

TEST(ConsoleUiTest, AnswersByPolicyAndPrintsOneLineEach) {
  struct Case {
    ConfirmPolicy policy;
    bool interactive;
    const char* input;
    bool answer;
    const char* printed;
    const char* left_unread;
  };
  const Case cases[] = {
      {ConfirmPolicy::AlwaysYes, true, "n\n", true, "Proceed ? [Yes/No] Yes\n", "n\n"},
      {ConfirmPolicy::AlwaysNo, true, "y\n", false, "Proceed ? [Yes/No] No\n", "y\n"},
      {ConfirmPolicy::AskOnTerminal, true, "yes\nrest", true, "Proceed ? [Yes/No] ", "rest"},
      {ConfirmPolicy::AskOnTerminal, true, " Y \n", true, "Proceed ? [Yes/No] ", ""},
      {ConfirmPolicy::AskOnTerminal, true, "no\n", false, "Proceed ? [Yes/No] ", ""},
      {ConfirmPolicy::AskOnTerminal, true, "yeah\n", false, "Proceed ? [Yes/No] ", ""},
      {ConfirmPolicy::AskOnTerminal, true, "", false, "Proceed ? [Yes/No] No\n", ""},
      // Nobody at a terminal to ask: No, and the input is not touched.
      {ConfirmPolicy::AskOnTerminal, false, "y\n", false, "Proceed ? [Yes/No] No\n", "y\n"},
  };
  for (const Case& c : cases) {
    std::ostringstream out;
    std::ostringstream err;
    std::istringstream in(c.input);
    ConsoleUi ui(out, err, c.policy, in, c.interactive);
    EXPECT_EQ(ui.Confirm("Proceed ?"), c.answer) << "input " << c.input;
    EXPECT_EQ(out.str(), c.printed) << "input " << c.input;
    std::string rest((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(rest, c.left_unread) << "input " << c.input;
    EXPECT_EQ(err.str(), "");
  }
}

TEST(ConsoleUiTest, MessagesGoToTheOutputAndErrorsToTheErrorStream) {
  std::ostringstream out;
  std::ostringstream err;
  std::istringstream in;
  ConsoleUi ui(out, err, ConfirmPolicy::AlwaysNo, in, false);
  ui.SetWindowCursor(Cursor::DatabaseWait);
  ui.MessageBox("Table mcompany.KDT Could Not Be Created", "Table Creation Failure");
  ui.MessageBox("E0001", "");
  ui.ProcessMessages();
  EXPECT_FALSE(ui.ErrorReported());
  ui.ShowErrorReport("DbConnection1 c:\\kx8\\COMPANY\\ACME");

  EXPECT_EQ(out.str(),
            "Table Creation Failure: Table mcompany.KDT Could Not Be Created\n"
            "E0001\n");
  EXPECT_EQ(err.str(), "Error: DbConnection1 c:\\kx8\\COMPANY\\ACME\n");
  EXPECT_TRUE(ui.ErrorReported());
}

}  // namespace
}  // namespace kx8::platform
