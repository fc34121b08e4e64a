// Values kept in their file until written: the same encoding as values held in memory, and a file
// that changed under the object stops the writing instead of writing other bytes.
#include "filevalue.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "bufdata.h"
#include "dcmobj.h"
#include "dicomfile.h"
#include "logcapture.h"
#include "syntaxes.h"
#include "testsupport.h"

namespace {

std::string Pattern(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 13 + i / 4099);
  return bytes;
}

// A video-like object: a document element and encapsulated pixel data whose one fragment is the
// file, either kept in the file or read into memory beforehand (padded to even length).
std::unique_ptr<DcmObj> ObjectWith(const std::string& path, const char* syntax, bool inFile) {
  auto dataSet = std::make_unique<DcmObj>();
  dataSet->SetTransferSyntax(syntax);
  dataSet->AddString(0x0010, 0x0010, "DOE^JANE");
  auto document = DcmTag::FromBytes(0x0042, 0x0011, 0, nullptr, "OB");
  auto fragment = DcmTag::FromBytes(0xFFFE, 0xE000, 0, nullptr, "DL");
  if (inFile) {
    std::string error;
    const auto file = FileValue::Open(path, error);
    EXPECT_NE(file, nullptr) << error;
    document->TakeFileValue(file);
    fragment->TakeFileValue(file);
  } else {
    std::string bytes = testsupport::ReadFile(path);
    if (bytes.size() % 2 == 1) bytes.push_back('\0');
    document->SetValue(bytes.data(), static_cast<uint32_t>(bytes.size()));
    fragment->SetValue(bytes.data(), static_cast<uint32_t>(bytes.size()));
  }
  dataSet->Add(std::move(document));
  dataSet->Add(DcmTag::FromBytes(0x7FE0, 0x0010, kUndefinedLength, nullptr, "OB"));
  dataSet->Append(DcmTag::FromBytes(0xFFFE, 0xE000, 0, nullptr, "DL"));
  dataSet->Append(std::move(fragment));
  dataSet->Append(DcmTag::FromBytes(0xFFFE, 0xE0DD, 0, nullptr, "DL"));
  return dataSet;
}

std::string Whole(DcmObj& dataSet, bool& ok) {
  BufData buffer;
  ok = buffer.WriteDataSet(dataSet);
  return std::string(buffer.stream.begin(), buffer.stream.end());
}

std::string InPieces(DcmObj& dataSet, bool& ok) {
  BufData buffer;
  std::string joined;
  ok = buffer.WriteDataSetPieces(dataSet, 4096, [&](const uint8_t* bytes, size_t size) {
    joined.append(reinterpret_cast<const char*>(bytes), size);
    return true;
  });
  return joined;
}

TEST(FileValueTest, IsWrittenAsTheSameBytesAsAValueInMemory) {
  testsupport::TempDir folder;
  // Short values go through the stream, long ones are handed on piece by piece; odd lengths get
  // their pad byte, and a value of several read pieces is joined in order.
  for (size_t size : {size_t{0}, size_t{1}, size_t{100}, size_t{70001}, (size_t{3} << 20) + 5}) {
    for (const char* syntax : {kExplicitVRLittleEndian, kImplicitVRLittleEndian}) {
      SCOPED_TRACE(std::to_string(size) + " bytes, " + syntax);
      const auto path = folder / ("value" + std::to_string(size));
      testsupport::WriteFile(path, Pattern(size));
      auto inMemory = ObjectWith(path.string(), syntax, false);
      auto inFile = ObjectWith(path.string(), syntax, true);
      bool ok = false;
      const std::string expected = Whole(*inMemory, ok);
      ASSERT_TRUE(ok);
      EXPECT_TRUE(Whole(*inFile, ok) == expected);
      EXPECT_TRUE(ok);
      EXPECT_TRUE(InPieces(*inFile, ok) == expected);
      EXPECT_TRUE(ok);
      // A copy of the element refers to the same file.
      auto copy = inFile->FindTag(0x0042, 0x0011)->Clone();
      EXPECT_EQ(copy->length, size + size % 2);
      EXPECT_EQ(copy->fileValue != nullptr, size != 0);
    }
  }
}

TEST(FileValueTest, TheFileRenamedOrRemovedAfterOpeningStillGivesItsBytes) {
  testsupport::TempDir folder;
  const auto path = folder / "clip.mp4";
  testsupport::WriteFile(path, Pattern(200001));
  auto inMemory = ObjectWith(path.string(), kExplicitVRLittleEndian, false);
  auto inFile = ObjectWith(path.string(), kExplicitVRLittleEndian, true);
  std::filesystem::rename(path, folder / "moved.mp4");
  std::filesystem::remove(folder / "moved.mp4");
  testsupport::WriteFile(path, "another file under the old name");
  bool ok = false;
  const std::string expected = Whole(*inMemory, ok);
  EXPECT_TRUE(InPieces(*inFile, ok) == expected);
  EXPECT_TRUE(ok);
}

TEST(FileValueTest, AFileCutShortAfterOpeningStopsTheWritingAndLeavesNoFile) {
  testsupport::TempDir folder;
  const auto path = folder / "clip.mp4";
  testsupport::WriteFile(path, Pattern(300000));
  for (size_t kept : {size_t{0}, size_t{150000}, size_t{299999}}) {
    SCOPED_TRACE("cut to " + std::to_string(kept) + " bytes");
    testsupport::WriteFile(path, Pattern(300000));
    auto dataSet = ObjectWith(path.string(), kExplicitVRLittleEndian, true);
    std::filesystem::resize_file(path, kept);
    LogCapture log;
    bool ok = true;
    InPieces(*dataSet, ok);
    EXPECT_FALSE(ok);
    Whole(*dataSet, ok);
    EXPECT_FALSE(ok);
    EXPECT_TRUE(
        log.Contains("has changed: it now ends at byte " + std::to_string(kept) + " of 300000"))
        << log.Text();

    const auto saved = folder / "saved.dcm";
    BufData file;
    EXPECT_FALSE(file.SaveToFile(saved.string(), *dataSet));
    EXPECT_FALSE(std::filesystem::exists(saved));
    EXPECT_FALSE(std::filesystem::exists(saved.string() + ".part"));
  }
}

// A request announces an object's length before sending it: measuring the Part 10 encoding gives
// the length of the file saving writes, and reads nothing of the values kept in files.
TEST(FileValueTest, ThePart10SizeIsMeasuredWithoutReadingTheFile) {
  testsupport::TempDir folder;
  for (size_t size : {size_t{100}, size_t{70001}, (size_t{3} << 20) + 5}) {
    for (const char* syntax : {kExplicitVRLittleEndian, kImplicitVRLittleEndian}) {
      SCOPED_TRACE(std::to_string(size) + " bytes, " + syntax);
      const auto path = folder / "clip.mp4";
      testsupport::WriteFile(path, Pattern(size));
      auto dataSet = ObjectWith(path.string(), syntax, true);
      dataSet->AddString(0x0008, 0x0016, "1.2.840.10008.5.1.4.1.1.77.1.4.1");
      dataSet->AddString(0x0008, 0x0018, "1.2.826.0.1.3680043.10.991");
      const auto saved = folder / "saved.dcm";
      ASSERT_TRUE(dataSet->SaveToFile(saved.string(), "1.2.840.10008.5.1.4.1.1.77.1.4.1",
                                      "1.2.826.0.1.3680043.10.991"));
      const uint64_t expected = std::filesystem::file_size(saved);
      std::string pieces;
      ASSERT_TRUE(WritePart10Pieces(*dataSet, 4096, [&](const uint8_t* bytes, size_t count) {
        pieces.append(reinterpret_cast<const char*>(bytes), count);
        return true;
      }));
      EXPECT_TRUE(pieces == testsupport::ReadFile(saved));
      EXPECT_EQ(Part10Size(*dataSet), expected);
      // Short values are read into the encoding; long ones are handed on from the file, and with
      // the file emptied writing fails, but the measure still holds: it never read it.
      if (size < kDirectValueThreshold) continue;
      std::filesystem::resize_file(path, 0);
      EXPECT_EQ(Part10Size(*dataSet), expected);
      LogCapture log;
      EXPECT_FALSE(WritePart10Pieces(*dataSet, 4096, [](const uint8_t*, size_t) { return true; }));
    }
  }
}

TEST(FileValueTest, OpenRefusesWhatCannotBeStoredAndNamesIt) {
  testsupport::TempDir folder;
  const auto fifo = folder / "pipe";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  // Sparse: one byte more than the longest even value a 32-bit length can carry.
  const auto huge = folder / "huge.mp4";
  testsupport::WriteFile(huge, "");
  std::filesystem::resize_file(huge, 0xFFFFFFFFull);
  const struct {
    std::string path;
    std::string message;
  } rows[] = {
      {(folder / "missing.mp4").string(),
       "Cannot open file \"" + (folder / "missing.mp4").string() + "\": No such file or directory"},
      {folder.path().string(),
       "Cannot read file \"" + folder.path().string() + "\": it is a folder"},
      {fifo.string(), "Cannot read file \"" + fifo.string() + "\": it is not a regular file"},
      {huge.string(),
       "File \"" + huge.string() + "\" is too large to be stored (4294967295 bytes; at most 4 GB)"},
  };
  for (const auto& row : rows) {
    std::string error;
    EXPECT_EQ(FileValue::Open(row.path, error), nullptr);
    EXPECT_EQ(error, row.message);
  }
}

}  // namespace
