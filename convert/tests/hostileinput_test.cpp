// Hostile input files: headers that claim far more than their files hold, and documents made of
// nothing but line breaks. Each is refused or converted without the memory it pretends to need;
// the peak is measured in a child process, so that earlier tests cannot hide it.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <cstring>
#include <functional>
#include <string>

#include "bmpfile.h"
#include "converttext.h"
#include "jpegfile.h"
#include "pngfile.h"
#include "testpictures.h"
#include "testsupport.h"
#include "textreaders.h"

namespace {

// How far the peak resident size of a child running `work` rose above what it had at the
// start, in MB; -1 when the child could not report.
long PeakGrowthMegabytes(const std::function<void()>& work) {
  int channel[2];
  if (pipe(channel) != 0) return -1;
  const pid_t child = fork();
  if (child == 0) {
    close(channel[0]);
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    work();
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    const long growth = (after.ru_maxrss - before.ru_maxrss) / 1024;
    const ssize_t written = write(channel[1], &growth, sizeof growth);
    _exit(written == sizeof growth ? 0 : 1);
  }
  close(channel[1]);
  long growth = -1;
  if (child < 0 || read(channel[0], &growth, sizeof growth) != sizeof growth) growth = -1;
  close(channel[0]);
  int status = 0;
  if (child > 0) waitpid(child, &status, 0);
  return growth;
}

void Put16BigEndian(std::string& bytes, size_t at, uint16_t value) {
  bytes[at] = static_cast<char>(value >> 8);
  bytes[at + 1] = static_cast<char>(value);
}

void Put32(std::string& bytes, size_t at, uint32_t value, bool bigEndian) {
  for (int i = 0; i < 4; ++i) {
    const int shift = bigEndian ? 24 - 8 * i : 8 * i;
    bytes[at + static_cast<size_t>(i)] = static_cast<char>(value >> shift);
  }
}

// A small JPEG whose frame header claims 65000 x 4000 pixels.
std::string JpegClaimingHugeSize() {
  std::string jpeg = testpictures::MakeJpeg(64, 64, false);
  const size_t frame = jpeg.find("\xFF\xC0");
  Put16BigEndian(jpeg, frame + 5, 4000);
  Put16BigEndian(jpeg, frame + 7, 65000);
  return jpeg;
}

// A small PNG whose header claims 16000 x 16000 pixels, its checksum made to match.
std::string PngClaimingHugeSize() {
  std::string png = testpictures::MakePng(16, 16, testpictures::PngKind::Rgb);
  Put32(png, 16, 16000, true);
  Put32(png, 20, 16000, true);
  const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(png.data() + 12), 17);
  Put32(png, 29, static_cast<uint32_t>(crc), true);
  return png;
}

// A run-length bitmap of a few bytes claiming 16000 x 16000 pixels.
std::string BmpRleClaimingHugeSize() {
  std::string bmp = testpictures::MakeBmpRle8(8, 4);
  Put32(bmp, 18, 16000, false);
  Put32(bmp, 22, 16000, false);
  return bmp;
}

TEST(HostilePictures, TinyFilesClaimingHugePicturesAreRefusedWithoutTheMemory) {
  struct Case {
    const char* name;
    std::string file;
    bool (*decode)(const uint8_t*, size_t, RgbBitmap&, std::string&);
  };
  const Case cases[] = {
      {"JPEG", JpegClaimingHugeSize(), DecodeJpeg},
      {"PNG", PngClaimingHugeSize(), DecodePng},
      {"run-length BMP", BmpRleClaimingHugeSize(), DecodeBmp},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RgbBitmap bitmap;
    std::string error;
    const auto* bytes = reinterpret_cast<const uint8_t*>(c.file.data());
    EXPECT_FALSE(c.decode(bytes, c.file.size(), bitmap, error));
    EXPECT_FALSE(error.empty());
    const long growth = PeakGrowthMegabytes([&] {
      RgbBitmap scratch;
      std::string ignored;
      c.decode(bytes, c.file.size(), scratch, ignored);
    });
    EXPECT_GE(growth, 0);
    EXPECT_LT(growth, 64) << "MB for a file of " << c.file.size() << " bytes";
  }
}

// Phone and camera files often carry a few stray bytes between markers; they lose nothing and
// must not fail the picture. A marker inside the entropy-coded data loses the rest of it.
TEST(HostilePictures, OnlyJpegWarningsThatLoseDataFailThePicture) {
  const std::string good = testpictures::MakeJpeg(64, 64, false);
  std::string extraneous = good;
  const size_t tables = extraneous.find("\xFF\xDB");
  extraneous.insert(tables, "\x00\x00\x00", 3);
  std::string markerInData = good;
  const size_t scan = markerInData.find("\xFF\xDA");
  markerInData.replace(scan + 40, 2, "\xFF\xD3", 2);
  struct Case {
    const char* name;
    std::string file;
    bool decodes;
  };
  const Case cases[] = {
      {"extraneous bytes before a marker", extraneous, true},
      {"a marker inside the entropy-coded data", markerInData, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RgbBitmap bitmap;
    std::string error;
    EXPECT_EQ(
        DecodeJpeg(reinterpret_cast<const uint8_t*>(c.file.data()), c.file.size(), bitmap, error),
        c.decodes)
        << error;
    if (c.decodes) EXPECT_EQ(bitmap.rgb.size(), 64u * 64u * 3u);
  }
}

// A text of nothing but line breaks becomes a report of empty lines whose memory follows the
// file's size: a line list would spend a string object on every one of them.
TEST(HostileDocuments, LineBreaksAloneDoNotMultiplyMemory) {
  testsupport::TempDir dir;
  const std::string path = (dir / "breaks.txt").string();
  constexpr size_t kBreaks = 16u << 20;
  testsupport::WriteFile(path, "first\n" + std::string(kBreaks, '\n') + "last");
  std::string text;
  std::string error;
  ASSERT_TRUE(ReadDocumentText(path, text, error)) << error;
  EXPECT_EQ(text.size(), 2 * (kBreaks + 1) + 7 + 4);
  EXPECT_EQ(text.substr(0, 9), "first\r\n\r\n");
  const long growth = PeakGrowthMegabytes([&] {
    std::string again;
    std::string ignored;
    ReadDocumentText(path, again, ignored);
  });
  EXPECT_GE(growth, 0);
  // The file (16 MB), its text and the report text with CR LF (32 MB each): about 80 MB, where
  // one string per line took over 500 MB.
  EXPECT_LT(growth, 160);
}

// A DOCX whose directory claims a document part far larger than the package could inflate to.
TEST(HostileDocuments, DocxEntryClaimingMoreThanTheArchiveHoldsIsRefused) {
  testsupport::TempDir dir;
  const std::string path = (dir / "claims.docx").string();
  const char* script =
      "import struct, sys, zipfile\n"
      "z = zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED)\n"
      "z.writestr('word/document.xml', '<w:document/>')\n"
      "z.close()\n"
      "data = bytearray(open(sys.argv[1], 'rb').read())\n"
      "claim = struct.pack('<I', 400 * 1024 * 1024)\n"
      "local = data.find(b'PK\\x03\\x04')\n"
      "data[local + 22:local + 26] = claim\n"
      "central = data.find(b'PK\\x01\\x02')\n"
      "data[central + 24:central + 28] = claim\n"
      "open(sys.argv[1], 'wb').write(data)\n";
  ASSERT_EQ(testsupport::RunCommand({"/usr/bin/python3", "-c", script, path}).exitCode, 0);
  std::string text;
  std::string error;
  EXPECT_FALSE(ReadDocxText(path, text, error));
  EXPECT_NE(error.find("more than the package's"), std::string::npos) << error;
  const long growth = PeakGrowthMegabytes([&] {
    std::string ignoredText, ignoredError;
    ReadDocxText(path, ignoredText, ignoredError);
  });
  EXPECT_GE(growth, 0);
  EXPECT_LT(growth, 64);
}

}  // namespace
