// velloran-cli dump over the test files that Debian's pydicom ships: real-world and deliberately
// odd files. Every file DCMTK's dcmdump reads must read here too, with the top-level elements
// pydicom finds; every other file must be refused with a reason, never crash or hang.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "dicomfile.h"
#include "testsupport.h"

namespace {

using testsupport::RunCommand;

constexpr const char* kTestFiles = "/usr/lib/python3/dist-packages/pydicom/data/test_files";
// Seconds one file may take; the slowest real file reads in well under one.
constexpr const char* kTimeLimit = "60";

// One line per file: the path, then the top-level tags pydicom reads as eight hex digits each,
// or "error" when pydicom cannot read it.
constexpr const char* kPydicomScript = R"(
import os, sys
import pydicom
for folder, _, names in sorted(os.walk(sys.argv[1])):
    for name in sorted(names):
        path = os.path.join(folder, name)
        try:
            ds = pydicom.dcmread(path, force=True)
            print(path, *('%08X' % int(e.tag) for e in ds))
        except Exception:
            print(path, 'error')
)";

// The top-level tags of a data set as read: nested sequences count once, and so do flat
// sequences and encapsulated pixel data with everything up to their delimiter.
std::vector<std::string> TopLevelTags(const DcmObj& dataSet) {
  std::vector<std::string> tags;
  int depth = 0;
  for (size_t i = 0; i < dataSet.Count(); ++i) {
    const DcmTag& tag = dataSet.EntryTag(i);
    const bool delimiter = tag.group == 0xFFFE;
    if (depth == 0 && !delimiter) {
      char text[9];
      std::snprintf(text, sizeof text, "%04X%04X", tag.group, tag.element);
      tags.push_back(text);
    }
    if (dataSet.TagAt(i) != nullptr && tag.HasUndefinedLength() && !delimiter) ++depth;
    if (tag.Is(0xFFFE, 0xE0DD) && depth > 0) --depth;
  }
  return tags;
}

// The lines of a dump that show top-level elements or their items (no dots in front).
std::vector<std::string> UndottedTags(const std::string& dump) {
  std::vector<std::string> tags;
  std::istringstream lines(dump);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.size() > 11 && line[0] == '(' && line[10] == ')') {
      tags.push_back(line.substr(1, 4) + line.substr(6, 4));
    }
  }
  return tags;
}

// True when `wanted` appear in `have` in this order (others may come between).
bool InOrder(const std::vector<std::string>& have, const std::vector<std::string>& wanted) {
  size_t next = 0;
  for (const std::string& tag : have) {
    if (next < wanted.size() && tag == wanted[next]) ++next;
  }
  return next == wanted.size();
}

TEST(DumpWildFilesTest, ReadsWhatDcmtkReadsWithPydicomsElementsAndRefusesTheRestCleanly) {
  ASSERT_TRUE(std::filesystem::is_directory(kTestFiles))
      << "python3-pydicom's test files are not installed (" << kTestFiles
      << "; scripts/setup.sh installs them)";
  ASSERT_TRUE(testsupport::HaveProgram("dcmdump"))
      << "dcmdump missing (scripts/setup.sh installs it)";
  const auto python = RunCommand({"/usr/bin/python3", "-c", kPydicomScript, kTestFiles});
  ASSERT_EQ(python.exitCode, 0) << python.errors;
  std::map<std::string, std::vector<std::string>> pydicomTags;
  std::istringstream listing(python.output);
  std::string line;
  while (std::getline(listing, line)) {
    std::istringstream words(line);
    std::string path, word;
    words >> path;
    std::vector<std::string>& tags = pydicomTags[path];
    while (words >> word) tags.push_back(word);
  }
  ASSERT_GT(pydicomTags.size(), 100u);

  size_t compared = 0;
  for (const auto& [path, expected] : pydicomTags) {
    SCOPED_TRACE(path);
    const bool dcmtkReads =
        RunCommand({"timeout", kTimeLimit, "dcmdump", "-q", path}).exitCode == 0;
    const auto dump = RunCommand({"timeout", kTimeLimit, VELLORAN_CLI, "dump", path});
    // 0: read; 1: refused with the reason on the last line. Anything else is a crash, a
    // sanitizer report or the time limit.
    ASSERT_TRUE(dump.exitCode == 0 || dump.exitCode == 1) << dump.exitCode << "\n" << dump.errors;
    if (dump.exitCode == 1) {
      const std::string head = "velloran-cli dump: " + path + ": ";
      const size_t at = dump.errors.rfind(head);
      ASSERT_NE(at, std::string::npos) << dump.errors;
      EXPECT_GT(dump.errors.size(), at + head.size() + 5) << dump.errors;
    }
    if (!dcmtkReads) continue;
    EXPECT_EQ(dump.exitCode, 0) << dump.errors;
    if (expected.size() == 1 && expected[0] == "error") continue;
    DicomFile file;
    std::string error;
    ASSERT_TRUE(ReadDicomFile(path, file, error)) << error;
    EXPECT_EQ(TopLevelTags(file.dataSet), expected);
    EXPECT_TRUE(InOrder(UndottedTags(dump.output), expected)) << dump.output;
    ++compared;
  }
  EXPECT_GT(compared, 100u);
}

}  // namespace
