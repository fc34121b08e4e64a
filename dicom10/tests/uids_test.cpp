// The batch UID builder, the transfer syntax list, display dates and the program version.
#include "uids.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "testsupport.h"

namespace {

struct UidCase {
  const char* meaning;
  const char* installation;
  const char* patientId;
  const char* accession;
  const char* date;
  const char* time;
  const char* afterRoot;  // what follows the organisation root
};

TEST(UidsTest, GenerateUidBuildsAndCleansTheBatchUid) {
  const UidCase cases[] = {
      // Before cleaning .129001-7Q9Z.4711.2301181432: hyphen, Q and Z are all 0 modulo 9.
      {"worked example with an empty accession number", "WS-0001-7Q9Z", "PID4711", "", "20230118",
       "143210", ".12900107090.4711.2301181432"},
      // 00420042: only the zero that follows the dot becomes 1.
      {"component starting with zero", "WS-0001-7Q9Z", "0042", "0042", "20230118", "143210",
       ".12900107090.10420042.2301181432"},
      // AB1ab 7: A=2, B=3, a=7, b=8, space=5; a short accession number is taken untrimmed.
      {"letters and a space", "WS-0001-7Q9Z", "ab 7", "AB1", "20230118", "143210",
       ".12900107090.2317857.2301181432"},
      // A 12-character accession number gives its last 4.
      {"long accession number", "WS-0001-7Q9Z", "PID4711", "ACC000001234", "20230118", "143210",
       ".12900107090.12344711.2301181432"},
  };
  for (const UidCase& c : cases) {
    SCOPED_TRACE(c.meaning);
    const std::string uid =
        GenerateUid(c.installation, c.patientId, c.accession, c.date, c.time, "129");
    ASSERT_EQ(uid.rfind(kOrganisationUidRoot, 0), 0u) << uid;
    EXPECT_EQ(uid.substr(std::string(kOrganisationUidRoot).size()), c.afterRoot);
  }
}

TEST(UidsTest, GenerateUidResultIsDigitsAndDotsOnly) {
  const std::string uid = GenerateUid("ABC", "P1", "", "2023", "9", "129");
  const std::string tail = uid.substr(std::string(kOrganisationUidRoot).size());
  // Short installation, date and time: ".129ABC." + "P1." + "23" + "9", with A=2, B=3, C=4, P=8.
  EXPECT_EQ(tail, ".129234.81.239");
  EXPECT_EQ(tail.find_first_not_of("0123456789."), std::string::npos);
  // Bytes of 0x80 and above become digits too.
  const std::string high = GenerateUid("\xE9\xFF", "\x80", "", "", "", "1");
  EXPECT_EQ(high.substr(std::string(kOrganisationUidRoot).size()).find_first_not_of("0123456789."),
            std::string::npos)
      << high;
}

TEST(UidsTest, GenerateUidIsEmptyWithoutPatientId) {
  EXPECT_EQ(GenerateUid("WS-0001-7Q9Z", "", "ACC1", "20230118", "143210", "129"), "");
  EXPECT_EQ(GenerateUid("", "", "", "", "", ""), "");
}

TEST(UidsTest, OrganisationRootHas26Characters) {
  const std::string root = kOrganisationUidRoot;
  EXPECT_EQ(root.size(), 26u);
  EXPECT_EQ(root.find_first_not_of("0123456789."), std::string::npos);
}

TEST(UidsTest, TransferSyntaxSupportedIsAnExactListMatch) {
  const std::pair<const char*, bool> cases[] = {
      {"1.2.840.10008.1.2", true},
      {"1.2.840.10008.1.2.1", true},
      {"1.2.840.10008.1.2.2", true},
      {"1.2.840.10008.1.2.5", true},
      {"1.2.840.10008.1.2.4.57", true},
      {"1.2.840.10008.1.2.4.70", true},
      {"1.2.840.10008.1.2.4.100", true},
      {"1.2.840.10008.1.2.4.102", false},
      {"1.2.840.10008.1.2.1.99", false},
      {"1.2.840.10008.1.2.4.57 ", false},
      {"", false},
  };
  for (const auto& [uid, supported] : cases)
    EXPECT_EQ(TransferSyntaxSupported(uid), supported) << uid;
  EXPECT_FALSE(TransferSyntaxSupported(std::string_view("1.2.840.10008.1.2\0", 18)));
}

TEST(UidsTest, ClassListsKnowImagesAndWaveformsButNotVideo) {
  const std::pair<const char*, bool> images[] = {
      {"1.2.840.10008.5.1.4.1.1.7", true},          // secondary capture
      {"1.2.840.10008.5.1.4.1.1.77.1.4", true},     // VL photographic
      {"1.2.392.200036.9125.1.1.2", true},          // the vendor-private class
      {"1.2.840.10008.5.1.4.1.1.77.1.4.1", false},  // video photographic
      {"1.2.840.10008.5.1.4.1.1.77.1.1.1", false},  // video endoscopic
      {"1.2.840.10008.5.1.4.1.1.104.1", false},     // encapsulated PDF
      {"1.2.840.10008.5.1.4.1.1.88.11", false},     // basic text SR
      {"1.2.840.10008.5.1.4.1.1.7 ", false},        // padded: lists match exactly
  };
  for (const auto& [uid, image] : images) EXPECT_EQ(IsImageStorageClass(uid), image) << uid;
  EXPECT_TRUE(IsWaveformClass("1.2.840.10008.5.1.4.1.1.9.1.2"));
  EXPECT_FALSE(IsWaveformClass("1.2.840.10008.5.1.4.1.1.9.4.1"));
  EXPECT_FALSE(IsWaveformClass("1.2.840.10008.5.1.4.1.1.7"));
}

TEST(UidsTest, DicomDateToDisplayFollowsTheCountry) {
  EXPECT_EQ(DicomDateToDisplay("20230118", "United States"), "01/18/2023");
  EXPECT_EQ(DicomDateToDisplay("20230118", "Germany"), "18/01/2023");
  EXPECT_EQ(DicomDateToDisplay("20230118", ""), "18/01/2023");
  EXPECT_EQ(DicomDateToDisplay("", "United States"), "");
  // A short text gives what parts it has rather than reading past its end.
  EXPECT_EQ(DicomDateToDisplay("2023", "United States"), "//2023");

  const char* saved = std::getenv("LC_ALL");
  const std::string restore = saved ? saved : "";
  setenv("LC_ALL", "en_US.UTF-8", 1);
  EXPECT_EQ(LocaleCountryName(), "United States");
  EXPECT_EQ(DicomDateToDisplay("20230118"), "01/18/2023");
  setenv("LC_ALL", "de_DE.UTF-8", 1);
  EXPECT_EQ(DicomDateToDisplay("20230118"), "18/01/2023");
  if (saved) {
    setenv("LC_ALL", restore.c_str(), 1);
  } else {
    unsetenv("LC_ALL");
  }
}

TEST(UidsTest, FileVersionTextReadsTheProgramVersion) {
  const std::string self = std::filesystem::canonical("/proc/self/exe").string();
  const std::string version = FileVersionText(self);
  EXPECT_EQ(version, VELLORAN_TEST_VERSION);
  testsupport::TempDir folder;
  testsupport::WriteFile(folder / "plain.txt", "no version here");
  EXPECT_EQ(FileVersionText((folder / "plain.txt").string()), "");
  EXPECT_EQ(FileVersionText((folder / "missing").string()), "");
}

}  // namespace
