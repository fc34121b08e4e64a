// Helper programs: exit status and output, a missing program, and the time limit.
#include "childprogram.h"

#include <gtest/gtest.h>

#include <chrono>

namespace {

TEST(RunProgram, ReportsExitStatusAndWhatTheProgramWrote) {
  const ProgramResult ok = RunProgram({"sh", "-c", "echo fine"}, std::chrono::seconds(20));
  EXPECT_TRUE(ok.Succeeded());
  EXPECT_EQ(ok.errorText, "fine\n");

  const ProgramResult failed =
      RunProgram({"sh", "-c", "echo broken >&2; exit 3"}, std::chrono::seconds(20));
  EXPECT_FALSE(failed.Succeeded());
  EXPECT_EQ(failed.exitCode, 3);
  EXPECT_EQ(failed.Cause(), "exit status 3: broken");
}

TEST(RunProgram, AMissingProgramIsNotStarted) {
  const ProgramResult result = RunProgram({"velloran-no-such-program"}, std::chrono::seconds(20));
  EXPECT_FALSE(result.started);
  EXPECT_EQ(result.startError, ENOENT);
  EXPECT_EQ(result.Cause(), "could not start: No such file or directory");
}

TEST(RunProgram, TheTimeLimitEndsTheProgramAndWhatItStarted) {
  // The shell's child keeps standard error open; the whole process group must go.
  const auto started = std::chrono::steady_clock::now();
  const ProgramResult result =
      RunProgram({"sh", "-c", "sleep 60 & sleep 60"}, std::chrono::milliseconds(300));
  EXPECT_TRUE(result.timedOut);
  EXPECT_FALSE(result.Succeeded());
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
}

}  // namespace
