// What the store of existing files learns from a file before proposing it: class, instance, the
// encoding its data set bytes are in and where they start, for files with and without meta group.
#include "storefiles.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "testsupport.h"

namespace {

std::string Element(uint16_t group, uint16_t element, const char* vr, std::string value,
                    bool bigEndian = false) {
  if (value.size() % 2) value += vr[0] == 'U' && vr[1] == 'I' ? '\0' : ' ';
  auto put16 = [&](std::string& out, uint16_t v) {
    out += static_cast<char>(bigEndian ? v >> 8 : v & 0xFF);
    out += static_cast<char>(bigEndian ? v & 0xFF : v >> 8);
  };
  std::string out;
  put16(out, group);
  put16(out, element);
  out += vr;
  put16(out, static_cast<uint16_t>(value.size()));
  return out + value;
}

TEST(ReadPart10Header, FilesWithoutFullMetaInformationAreReadForClassInstanceAndEncoding) {
  const std::string sopClass = "1.2.840.10008.5.1.4.1.1.7";
  const std::string prefix = std::string(128, '\0') + "DICM";
  const std::string metaClass =
      Element(0x0002, 0x0002, "UI", sopClass) + Element(0x0002, 0x0003, "UI", "1.2.3.4");
  const std::string littleBody = Element(0x0008, 0x0016, "UI", sopClass) +
                                 Element(0x0008, 0x0018, "UI", "1.2.3.5") +
                                 Element(0x0010, 0x0010, "PN", "A^B");
  const std::string bigBody = Element(0x0008, 0x0016, "UI", sopClass, true) +
                              Element(0x0008, 0x0018, "UI", "1.2.3.5", true);
  struct Case {
    const char* meaning;
    std::string bytes;
    const char* instance;  // empty: refused
    const char* syntax;
    bool guessed;
    size_t offset;
  };
  const Case cases[] = {
      {"complete meta group",
       prefix + metaClass + Element(0x0002, 0x0010, "UI", "1.2.840.10008.1.2.1") + littleBody,
       "1.2.3.4", "1.2.840.10008.1.2.1", false, 132 + metaClass.size() + 28},
      {"meta group without transfer syntax", prefix + metaClass + littleBody, "1.2.3.4",
       "1.2.840.10008.1.2.1", true, 132 + metaClass.size()},
      {"bare big-endian data set", bigBody, "1.2.3.5", "1.2.840.10008.1.2.2", true, 0},
      {"bare data set without class", Element(0x0010, 0x0010, "PN", "A^B"), "", "", false, 0},
      {"text", "hello, this is no DICOM file", "", "", false, 0},
  };
  testsupport::TempDir folder;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.meaning);
    const std::string path = (folder / "x.dcm").string();
    testsupport::WriteFile(path, c.bytes);
    Part10Header header;
    std::string error;
    const bool read = ReadPart10Header(path, header, error);
    EXPECT_EQ(read, c.instance[0] != '\0') << error;
    if (!read) {
      EXPECT_NE(error.find(path), std::string::npos) << error;
      continue;
    }
    EXPECT_EQ(header.sopClassUid, sopClass);
    EXPECT_EQ(header.sopInstanceUid, c.instance);
    EXPECT_EQ(header.transferSyntaxUid, c.syntax);
    EXPECT_EQ(header.guessed, c.guessed);
    EXPECT_EQ(header.dataSetOffset, c.offset);
    EXPECT_EQ(header.fileSize, c.bytes.size());
  }
}

}  // namespace
