// The request body of a store: parts from files and from data sets, read in pieces of any size,
// equal to the Part 10 files those objects make; failures while it is read stop it cleanly.
#include "multipartbody.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "dicomfile.h"
#include "filevalue.h"
#include "syntaxes.h"
#include "testsupport.h"

namespace {

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

// A PDF object whose document stays in its file, beside a long value held in memory.
std::unique_ptr<DcmObj> PdfObject(const std::string& documentPath, const std::string& uid) {
  auto dataSet = std::make_unique<DcmObj>();
  dataSet->SetTransferSyntax(kExplicitVRLittleEndian);
  dataSet->AddString(0x0008, 0x0016, "1.2.840.10008.5.1.4.1.1.104.1");
  dataSet->AddString(0x0008, 0x0018, uid);
  dataSet->AddString(0x0010, 0x0010, "DOE^JANE");
  const std::string notes(300000, 'n');
  dataSet->AddBytes(0x0040, 0xA160, static_cast<uint32_t>(notes.size()), notes.data());
  std::string error;
  auto document = FileValue::Open(documentPath, error);
  EXPECT_TRUE(document) << error;
  auto tag = DcmTag::FromBytes(0x0042, 0x0011, 0, nullptr, "OB");
  tag->TakeFileValue(std::move(document));
  dataSet->Add(std::move(tag));
  return dataSet;
}

std::string ReadAll(MultipartBody& body, size_t pieceSize, std::string& error) {
  std::string text;
  std::vector<uint8_t> piece(pieceSize);
  for (;;) {
    const long read = body.Read(piece.data(), piece.size(), error);
    if (read < 0) return {};
    if (read == 0) return text;
    text.append(reinterpret_cast<const char*>(piece.data()), static_cast<size_t>(read));
  }
}

// The parts' bytes, checked against the multipart/related layout.
std::vector<std::string> Parts(const std::string& text, const std::string& boundary) {
  const std::string opening = "--" + boundary + "\r\nContent-Type: application/dicom\r\n\r\n";
  const std::string between = "\r\n" + opening;
  const std::string closing = "\r\n--" + boundary + "--\r\n";
  std::vector<std::string> parts;
  EXPECT_EQ(text.rfind(opening, 0), 0u);
  EXPECT_GE(text.size(), opening.size() + closing.size());
  if (text.rfind(opening, 0) != 0) return parts;
  EXPECT_EQ(text.substr(text.size() - closing.size()), closing);
  size_t start = opening.size();
  for (;;) {
    const size_t next = text.find(between, start);
    if (next == std::string::npos) {
      parts.push_back(text.substr(start, text.size() - closing.size() - start));
      return parts;
    }
    parts.push_back(text.substr(start, next - start));
    start = next + between.size();
  }
}

TEST(MultipartBody, PartsAreThePart10FilesOfTheirObjectsWhateverThePieceSize) {
  TempDir work;
  // A PDF header, then filler: the size is what counts.
  const std::string document = "%PDF-1.4\n" + std::string(1300001 - 9, 'd');
  WriteFile(work / "letter.pdf", document);
  // What saving the objects gives is what each part must hold.
  auto reference = PdfObject((work / "letter.pdf").string(), "1.2.826.0.1.3680043.10.501");
  ASSERT_TRUE(reference->SaveToFile((work / "saved.dcm").string(), "1.2.840.10008.5.1.4.1.1.104.1",
                                    "1.2.826.0.1.3680043.10.501"));
  const std::string saved = ReadFile(work / "saved.dcm");
  Part10Header header;
  std::string error;
  ASSERT_TRUE(ReadPart10Header((work / "saved.dcm").string(), header, error)) << error;

  for (const size_t pieceSize : {size_t{1}, size_t{7}, size_t{65536}, size_t{1} << 21}) {
    SCOPED_TRACE(pieceSize);
    auto dataSet = PdfObject((work / "letter.pdf").string(), "1.2.826.0.1.3680043.10.501");
    std::vector<std::unique_ptr<PartSource>> sources;
    sources.push_back(DataSetPart(*dataSet));
    sources.push_back(FilePart((work / "saved.dcm").string(), header));
    sources.push_back(DataSetPart(*dataSet));  // read again once the first part is through
    MultipartBody body(std::move(sources));
    EXPECT_EQ(body.ContentType(),
              "multipart/related; type=\"application/dicom\"; boundary=" + body.boundary());
    const uint64_t announced = body.Size();
    const std::string text = ReadAll(body, pieceSize, error);
    ASSERT_FALSE(text.empty()) << error;
    // The length a request announces before a byte is read, with the document still in its file.
    EXPECT_EQ(announced, text.size());
    const std::vector<std::string> parts = Parts(text, body.boundary());
    ASSERT_EQ(parts.size(), 3u);
    EXPECT_TRUE(parts[0] == saved);
    EXPECT_TRUE(parts[2] == saved);
    // The file's part has a meta group of its own before the file's data set bytes.
    WriteFile(work / "part.dcm", parts[1]);
    DicomFile file;
    ASSERT_TRUE(ReadDicomFile((work / "part.dcm").string(), file, error)) << error;
    EXPECT_EQ(file.meta.GetString(0x0002, 0x0003), "1.2.826.0.1.3680043.10.501");
    EXPECT_EQ(file.meta.GetString(0x0002, 0x0010), kExplicitVRLittleEndian);
    EXPECT_TRUE(parts[1].substr(file.dataSetOffset) == saved.substr(header.dataSetOffset));
  }
}

TEST(MultipartBody, ASourceThatFailsStopsTheBodyWithItsReason) {
  TempDir work;
  WriteFile(work / "letter.pdf", "%PDF-1.4\n" + std::string(1300000 - 9, 'd'));
  auto dataSet = PdfObject((work / "letter.pdf").string(), "1.2.826.0.1.3680043.10.502");
  ASSERT_TRUE(dataSet->SaveToFile((work / "object.dcm").string(), "1.2.840.10008.5.1.4.1.1.104.1",
                                  "1.2.826.0.1.3680043.10.502"));
  Part10Header header;
  std::string error;
  ASSERT_TRUE(ReadPart10Header((work / "object.dcm").string(), header, error)) << error;

  // A file cut short after its header was read: its part must not end early as if complete.
  std::filesystem::resize_file(work / "object.dcm", 5000);
  {
    std::vector<std::unique_ptr<PartSource>> sources;
    sources.push_back(FilePart((work / "object.dcm").string(), header));
    MultipartBody body(std::move(sources));
    EXPECT_EQ(ReadAll(body, 4096, error), "");
    EXPECT_NE(error.find("ended before its data set did"), std::string::npos) << error;
  }
  // A file that is gone.
  {
    std::vector<std::unique_ptr<PartSource>> sources;
    sources.push_back(FilePart((work / "missing.dcm").string(), header));
    MultipartBody body(std::move(sources));
    error.clear();
    EXPECT_EQ(ReadAll(body, 4096, error), "");
    EXPECT_NE(error.find("cannot be read"), std::string::npos) << error;
  }
  // A data set whose document file shrank: its encoding fails, and so does the part.
  std::filesystem::resize_file(work / "letter.pdf", 10);
  {
    std::vector<std::unique_ptr<PartSource>> sources;
    sources.push_back(DataSetPart(*dataSet));
    MultipartBody body(std::move(sources));
    error.clear();
    EXPECT_EQ(ReadAll(body, 4096, error), "");
    EXPECT_NE(error.find("1.2.826.0.1.3680043.10.502 could not be encoded"), std::string::npos)
        << error;
  }
}

// A request given up half-way (the server hung up, say) drops its body: the encoder waiting to
// hand on its next piece must end rather than hold the program.
TEST(MultipartBody, ABodyDroppedHalfWayEndsItsEncoder) {
  TempDir work;
  WriteFile(work / "letter.pdf", "%PDF-1.4\n" + std::string(3000000 - 9, 'd'));
  auto dataSet = PdfObject((work / "letter.pdf").string(), "1.2.826.0.1.3680043.10.503");
  for (int attempt = 0; attempt < 20; ++attempt) {
    std::vector<std::unique_ptr<PartSource>> sources;
    sources.push_back(DataSetPart(*dataSet));
    sources.push_back(DataSetPart(*dataSet));
    MultipartBody body(std::move(sources));
    std::vector<uint8_t> piece(1000);
    std::string error;
    for (int read = 0; read < attempt * 37; ++read)
      ASSERT_GT(body.Read(piece.data(), 1000, error), 0);
  }
}

}  // namespace
