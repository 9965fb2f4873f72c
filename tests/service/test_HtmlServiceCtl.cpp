// The command-line client against the real service: answers and exit codes, bus activation, help.
#include <gtest/gtest.h>

#include "ServiceFixture.h"

namespace zb::test {
namespace {

class CtlTest : public ::testing::Test {
 protected:
  TRun Ctl(std::vector<std::string> AArgs) {
    AArgs.insert(AArgs.begin(), HTMLSERVICE_CTL_PATH);
    return Bus.Run(AArgs);
  }
  TPrivateBus Bus;
};

TEST_F(CtlTest, StartsTheServiceThroughTheBusAndPrintsAnswers) {
  ASSERT_FALSE(Bus.NameOwned());
  TRun ping = Ctl({"ping"});
  EXPECT_EQ(ping.ExitCode, 0) << ping.Err;
  EXPECT_EQ(ping.Out, "1\n");
  EXPECT_TRUE(Bus.NameOwned());

  TRun move = Ctl({"move", "keep", "100"});
  EXPECT_EQ(move.Out, "1\n");
  EXPECT_EQ(move.ExitCode, 0);
  TRun load = Ctl({"load", "/nonexistent/a.htm"});
  EXPECT_EQ(load.Out, "-1\n");
  EXPECT_EQ(load.ExitCode, 1);
  TRun raw = Ctl({"raw", "1280", "--hex", "01 02 03"});
  EXPECT_EQ(raw.ExitCode, 0);
  EXPECT_GT(std::stoi(raw.Out), 1);
  TRun shortRecord = Ctl({"raw", "1264", "--hex", "06000000"});
  EXPECT_EQ(shortRecord.Out, "-1\n");
  TRun exec = Ctl({"exec", "16", "--value", "Arial"});  // a text value travels behind the record
  EXPECT_EQ(exec.Out, "1\n");
  EXPECT_EQ(exec.ExitCode, 0);
  TRun unknown = Ctl({"exec", "78"});
  EXPECT_EQ(unknown.Out, "-1\n");
  EXPECT_EQ(unknown.ExitCode, 1);

  TRun terminate = Ctl({"terminate"});
  EXPECT_EQ(terminate.Out, "1\n");
  EXPECT_EQ(terminate.ExitCode, 0);
  TRun noStart = Ctl({"--no-start", "ping"});
  EXPECT_EQ(noStart.ExitCode, 3);
  EXPECT_EQ(noStart.Out, "");
}

TEST_F(CtlTest, HelpNamesEverySubCommandWithItsCode) {
  TRun help = Ctl({"--help"});
  EXPECT_EQ(help.ExitCode, 0);
  for (const char* s : {"ping",
                        "load",
                        "save",
                        "print",
                        "print-dialog",
                        "preview",
                        "page-setup",
                        "default-page-options",
                        "convert",
                        "paste-html",
                        "paste-text",
                        "count-images",
                        "has-background",
                        "count-all-images",
                        "exec",
                        "move",
                        "terminate",
                        "raw",
                        "(1025)",
                        "(1057)",
                        "(1264)",
                        "(1265)",
                        "(1279)",
                        "1036",
                        "1039"}) {
    EXPECT_NE(help.Out.find(s), std::string::npos) << s;
  }
  for (const char* s : {"Editing commands", " 6 Bold", "18 ForeColor", "77 Unselect"}) {
    EXPECT_NE(help.Out.find(s), std::string::npos) << s;
  }
  EXPECT_EQ(Ctl({"bogus"}).ExitCode, 2);
  EXPECT_EQ(Ctl({"move", "1"}).ExitCode, 2);
  EXPECT_EQ(Ctl({}).ExitCode, 2);
}

TEST_F(CtlTest, ExecTakesTheCommandsNameInAnyCaseOrItsNumber) {
  for (const char* cmd : {"Bold", "bold", "ITALIC", "6"}) {
    TRun exec = Ctl({"exec", cmd});
    EXPECT_EQ(exec.Out, "1\n") << cmd << ": " << exec.Err;
    EXPECT_EQ(exec.ExitCode, 0) << cmd;
  }
  TRun colour = Ctl({"exec", "forecolor", "--value", "red"});
  EXPECT_EQ(colour.Out, "1\n") << colour.Err;
  for (const char* cmd : {"Bolder", "", "Bold;", "0x"}) {
    TRun refused = Ctl({"exec", cmd});
    EXPECT_EQ(refused.ExitCode, 2) << cmd;
    EXPECT_EQ(refused.Out, "") << cmd;
  }
  EXPECT_NE(Ctl({"exec", "Bolder"}).Err.find("neither a command name nor a number"), std::string::npos);
  EXPECT_EQ(Ctl({"terminate"}).ExitCode, 0);  // an activated service outlives the test otherwise
}

}  // namespace
}  // namespace zb::test
