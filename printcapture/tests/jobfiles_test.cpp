// Job formats by their first bytes, document names, capture file names and the job counter.
#include "jobfiles.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>
#include <vector>

namespace {

TEST(KindOfJob, TheFirstBytesTellTheFormat) {
  struct Case {
    std::string firstBytes;
    JobKind kind;
  };
  const Case cases[] = {
      {"\x1b%-12345X@PJL", JobKind::PostScript},  // printer-language switch before PostScript
      {"%!PS-Adobe-3.0", JobKind::PostScript},
      {"PK\x03\x04", JobKind::Xps},
      {"%PDF-1.7", JobKind::Pdf},
      {"%PD", JobKind::Unknown},  // too short to be a PDF header
      {"%", JobKind::Unknown},
      {"", JobKind::Unknown},
      {"P", JobKind::Unknown},
      {"\x1b", JobKind::Unknown},
      {"Hello", JobKind::Unknown},
      {std::string("\0\0", 2), JobKind::Unknown},
  };
  for (const Case& c : cases) EXPECT_EQ(KindOfJob(c.firstBytes), c.kind) << c.firstBytes;
}

TEST(DocumentName, SanitisingKeepsLettersDigitsAndUnderscoreAndTheLength) {
  struct Case {
    std::string title;
    std::string sanitised;
  };
  const Case cases[] = {
      {"My Report (v2)", "My_Report__v2_"},
      {"Befund_2024-05-01.docx", "Befund_2024_05_01_docx"},
      {"", ""},
      {"abcXYZ019_", "abcXYZ019_"},
      {"\xc3\xa4rztlich", "__rztlich"},  // each byte of a UTF-8 letter becomes "_"
      {"a/b\\c:d", "a_b_c_d"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SanitizeDocumentName(c.title), c.sanitised) << c.title;
    EXPECT_EQ(SanitizeDocumentName(c.title).size(), c.title.size());
  }
}

TEST(DocumentName, TrimmingDropsControlsAndSpacesAtBothEnds) {
  EXPECT_EQ(TrimDocumentName("  \t Report \r\n"), "Report");
  EXPECT_EQ(TrimDocumentName(" a b "), "a b");
  EXPECT_EQ(TrimDocumentName(" \x01 "), "");
  EXPECT_EQ(TrimDocumentName("__x__"), "__x__");
}

TEST(CaptureFileNames, RawAndPdfNamesCarryTimeAndNumberWithoutPadding) {
  EXPECT_EQ(RawJobFileName("091502", 7, ".ps"), "091502_7.ps");
  EXPECT_EQ(RawJobFileName("235959", 0, ".tmp"), "235959_0.tmp");
  EXPECT_EQ(PdfJobFileName("My_Report__v2_", "101010", 42), "My_Report__v2__101010_42.pdf");
  EXPECT_EQ(PdfJobFileName("Unknown", "000000", 999), "Unknown_000000_999.pdf");
}

TEST(CaptureFileNames, TimeOfDayIsLocalHoursMinutesSeconds) {
  std::tm local{};
  local.tm_year = 2024 - 1900;
  local.tm_mon = 4;
  local.tm_mday = 1;
  local.tm_hour = 7;
  local.tm_min = 5;
  local.tm_sec = 9;
  local.tm_isdst = -1;
  EXPECT_EQ(TimeOfDayText(std::mktime(&local)), "070509");
}

TEST(JobCounter, RunsFromOneTo999ThenZero) {
  JobCounter counter;
  EXPECT_EQ(counter.Next(), 1);
  for (int n = 2; n <= 999; ++n) ASSERT_EQ(counter.Next(), n);
  EXPECT_EQ(counter.Next(), 0);  // the 1000th job
  EXPECT_EQ(counter.Next(), 1);
}

TEST(JobCounter, ThreadsNeverDrawTheSameNumber) {
  JobCounter counter;
  constexpr int kThreads = 8;
  constexpr int kEach = 120;  // 960 numbers: no wrap, so all must differ
  std::vector<std::vector<int>> drawn(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) drawn[t].push_back(counter.Next());
    });
  }
  for (std::thread& thread : threads) thread.join();
  std::set<int> all;
  for (const auto& numbers : drawn) all.insert(numbers.begin(), numbers.end());
  EXPECT_EQ(all.size(), size_t{kThreads * kEach});
  EXPECT_EQ(*all.begin(), 1);
  EXPECT_EQ(*all.rbegin(), kThreads * kEach);
}

}  // namespace
