// The spooler side without a spooler: fault reasons, the installer's arguments, and what happens
// when no scheduler answers.
#include "printqueue.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "capturepeers.h"
#include "virtualprinter.h"

namespace {

TEST(PrinterReportsError, FaultReasonsCountReportsAndWarningsDoNot) {
  struct Case {
    std::vector<std::string> reasons;
    bool fault;
  };
  const Case cases[] = {
      {{}, false},
      {{"none"}, false},
      {{"connecting-to-device"}, false},
      {{"media-jam"}, true},
      {{"media-empty-error"}, true},
      {{"toner-low-warning"}, false},
      {{"offline-report"}, false},
      {{"offline"}, true},
      {{"none", "door-open"}, true},
      {{"other-error"}, true},
      {{"cups-missing-filter-warning"}, false},
  };
  for (const Case& c : cases) {
    std::string text;
    for (const std::string& reason : c.reasons) text += reason + " ";
    EXPECT_EQ(PrinterReportsError(c.reasons), c.fault) << text;
  }
}

TEST(VirtualPrinter, TheQueueIsRawOnTheLoopbackPort9100NotSharedAndOpenToItsUserAlone) {
  const struct {
    const char* user;
    const char* allowed;
  } rows[] = {{"alice", "allow:alice,root"}, {"root", "allow:root"}};
  for (const auto& row : rows) {
    VirtualPrinter printer;
    printer.user = row.user;
    const std::vector<std::string> expected = {
        "-p", "QUELLPRINT",   "-v", "socket://127.0.0.1:9100",
        "-D", "IP_127.0.0.1", "-o", "printer-is-shared=false",
        "-u", row.allowed,    "-E"};
    EXPECT_EQ(LpadminArguments(printer), expected) << row.user;
  }
  EXPECT_EQ(VirtualPrinter{}.user, InstallingUser());
}

TEST(VirtualPrinter, AQueueIsOpenToAllUnlessItsListsCloseIt) {
  const struct {
    QueueUsers users;
    bool open;
  } rows[] = {
      {{{}, {}}, true},       {{{"all"}, {}}, true}, {{{"alice", "root"}, {}}, false},
      {{{}, {"all"}}, false}, {{{}, {"bob"}}, true},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(QueueOpenToAll(row.users), row.open)
        << testing::PrintToString(row.users.allowed) << testing::PrintToString(row.users.denied);
  }
}

// A scheduler socket where none listens.
class NoSpooler : public ::testing::Test {
 protected:
  void SetUp() override { capturetest::PointSpoolerAt(temp_ / "none.sock"); }
  void TearDown() override { capturetest::PointSpoolerAt({}); }

  testsupport::TempDir temp_;
  capturetest::CapturedLog log_;
};

TEST_F(NoSpooler, TheDocumentNameIsUnknownAfterTheLogLine) {
  EXPECT_EQ(JobDocumentName("QUELLPRINT"), "Unknown");
  EXPECT_TRUE(log_.Contains("ERROR, GetJobs, Can't Open Printer, QUELLPRINT, 0x00000502\n"))
      << log_.Text();
}

TEST_F(NoSpooler, InstallationLogsTheMissingSpoolerAndTellsTheUserNothing) {
  std::string message;
  EXPECT_EQ(InstallVirtualPrinter(VirtualPrinter{}, message), PrinterInstall::SpoolerUnavailable);
  EXPECT_EQ(message, "");
  EXPECT_TRUE(log_.Contains("ERROR, InstallVirtualPrinter, no print spooler answers at " +
                            (temp_ / "none.sock").string()))
      << log_.Text();
}

TEST_F(NoSpooler, AnInstallerThatCannotStartGivesTheAdminShellStatus) {
  int exitCode = 0;
  std::string message;
  EXPECT_FALSE(AdminShell("velloran-no-such-installer", {"-p", "X"}, exitCode, message));
  // Without the rights the start goes through pkexec, which may be missing itself; either
  // way the user sees the status of the start.
  EXPECT_TRUE(message.starts_with("ERROR, AdminShell, Status=")) << message;
  if (HasPrinterAdminRights()) EXPECT_EQ(message, "ERROR, AdminShell, Status=2");
}

}  // namespace
