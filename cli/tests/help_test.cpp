// velloran-cli --help: the verb list, and a help text of its own for every verb listed.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "testsupport.h"

namespace {

using testsupport::CommandResult;
using testsupport::RunCommand;

// The verb names of the overview: the lines between "verbs:" and the next empty line, first word
// of each.
std::vector<std::string> ListedVerbs(const std::string& overview) {
  std::vector<std::string> verbs;
  std::istringstream lines(overview);
  std::string line;
  bool inList = false;
  while (std::getline(lines, line)) {
    if (line == "verbs:") {
      inList = true;
    } else if (inList && line.empty()) {
      break;
    } else if (inList) {
      std::istringstream words(line);
      std::string name;
      words >> name;
      verbs.push_back(name);
    }
  }
  return verbs;
}

TEST(HelpTest, OverviewListsTheVerbsAndEachHasItsOwnUsage) {
  const CommandResult overview = RunCommand({VELLORAN_CLI, "--help"});
  EXPECT_EQ(overview.exitCode, 0) << overview.errors;
  EXPECT_EQ(overview.output.rfind("usage: velloran-cli VERB", 0), 0u) << overview.output;
  const std::vector<std::string> verbs = ListedVerbs(overview.output);
  for (const char* expected : {"dump", "transcode", "save", "echo", "find", "send", "store"}) {
    EXPECT_NE(std::find(verbs.begin(), verbs.end(), expected), verbs.end()) << expected;
  }
  for (const std::string& verb : verbs) {
    SCOPED_TRACE(verb);
    // Help comes before any other argument is looked at, so a bad one does not hide it.
    const CommandResult help = RunCommand({VELLORAN_CLI, verb, "--no-such-option", "--help"});
    EXPECT_EQ(help.exitCode, 0) << help.errors;
    EXPECT_EQ(help.errors, "");
    EXPECT_EQ(help.output.rfind("usage: velloran-cli " + verb, 0), 0u) << help.output;
  }
}

TEST(HelpTest, VersionIsTheProjectVersion) {
  const CommandResult result = RunCommand({VELLORAN_CLI, "--version"});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.output, "velloran-cli " VELLORAN_VERSION "\n");
}

TEST(HelpTest, UnknownVerbFailsWithTheOverviewOnStandardError) {
  const CommandResult result = RunCommand({VELLORAN_CLI, "frobnicate"});
  EXPECT_EQ(result.exitCode, 2);
  EXPECT_EQ(result.output, "");
  EXPECT_NE(result.errors.find("unknown verb 'frobnicate'"), std::string::npos) << result.errors;
  EXPECT_NE(result.errors.find("verbs:"), std::string::npos) << result.errors;
}

}  // namespace
