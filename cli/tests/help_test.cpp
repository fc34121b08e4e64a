// velloran-cli --help: the verb list, and a help text of its own for every verb listed.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
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

// velloran-defaultsettings writes the settings template; an option is never taken for the name
// of the file to write.
TEST(HelpTest, DefaultSettingsTakesHelpAndNoOptionForAFileName) {
  const struct {
    std::vector<std::string> args;
    int exitCode;
    bool usageOnOutput;
    const char* written;  // the file the run must leave, none when empty
  } rows[] = {
      {{"--help"}, 0, true, ""},          {{"-h"}, 0, true, ""},
      {{"--force"}, 2, false, ""},        {{}, 2, false, ""},
      {{"a.ini", "b.ini"}, 2, false, ""}, {{"velloran.ini"}, 0, false, "velloran.ini"},
  };
  for (const auto& row : rows) {
    const std::string shown = row.args.empty() ? "(none)" : row.args[0];
    SCOPED_TRACE(shown);
    testsupport::TempDir dir;
    std::string command = "cd '" + dir.path().string() + "' && exec '" VELLORAN_DEFAULTSETTINGS "'";
    for (const std::string& arg : row.args) command += " '" + arg + "'";
    const CommandResult result = RunCommand({"/bin/sh", "-c", command});
    EXPECT_EQ(result.exitCode, row.exitCode) << result.errors;
    const std::string& usage = row.usageOnOutput ? result.output : result.errors;
    if (row.exitCode != 0 || row.usageOnOutput) {
      EXPECT_EQ(usage.rfind("usage: velloran-defaultsettings FILE\n", 0), 0u) << usage;
    }
    std::vector<std::string> files;
    for (const auto& item : std::filesystem::directory_iterator(dir.path())) {
      files.push_back(item.path().filename().string());
    }
    EXPECT_EQ(files, *row.written == '\0' ? std::vector<std::string>{}
                                          : std::vector<std::string>{row.written});
    if (*row.written != '\0') {
      const std::string text = testsupport::ReadFile(dir / row.written);
      EXPECT_NE(text.find("webPlainLogin=0"), std::string::npos) << text;
    }
  }
}

}  // namespace
