// Tests of the video converter: the probe, elements, the whole file as one fragment, failures.
#include "convertmp4.h"

#include <gtest/gtest.h>

#include "convertertest.h"
#include "log.h"
#include "mp4probe.h"
#include "testsupport.h"

namespace {

using convertertest::Raw;

class ConvertMp4Test : public convertertest::ConverterTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(testsupport::HaveProgram("ffmpeg"))
        << "ffmpeg is not installed (scripts/setup.sh installs it)";
    ConverterTest::SetUp();
  }

  // A one-second H.264 MP4 of the given frame size made by ffmpeg.
  std::string MakeVideo(const std::string& name, int width, int height) {
    const std::string path = (dir_ / name).string();
    const auto result = testsupport::RunCommand(
        {"ffmpeg", "-nostdin", "-loglevel", "error", "-f", "lavfi", "-i",
         "testsrc=size=" + std::to_string(width) + "x" + std::to_string(height) + ":rate=5", "-t",
         "1", "-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p", "-y", path});
    EXPECT_EQ(result.exitCode, 0) << result.errors;
    return path;
  }
};

TEST_F(ConvertMp4Test, ObjectHoldsTheVideoElementsAndTheWholeFile) {
  const std::string path = MakeVideo("clip.mp4", 1280, 720);
  DataSetList list;
  std::string error;
  ASSERT_TRUE(ConvertMP4(path, list, error)) << error;
  const DcmObj& video = *list[0];
  convertertest::ExpectTags(
      video,
      {{0x0008, 0x0008}, {0x0008, 0x0012}, {0x0008, 0x0013}, {0x0008, 0x0016}, {0x0008, 0x0018},
       {0x0008, 0x0020}, {0x0008, 0x0030}, {0x0008, 0x0032}, {0x0008, 0x0033}, {0x0008, 0x0050},
       {0x0008, 0x0060}, {0x0008, 0x0064}, {0x0008, 0x0080}, {0x0008, 0x0090}, {0x0008, 0x1030},
       {0x0010, 0x0010}, {0x0010, 0x0020}, {0x0010, 0x0030}, {0x0010, 0x0040}, {0x0020, 0x000D},
       {0x0020, 0x000E}, {0x0020, 0x0010}, {0x0020, 0x0011}, {0x0020, 0x0013}, {0x0028, 0x0002},
       {0x0028, 0x0004}, {0x0028, 0x0006}, {0x0028, 0x0010}, {0x0028, 0x0011}, {0x0028, 0x0100},
       {0x0028, 0x0101}, {0x0028, 0x0102}, {0x0028, 0x0103}, {0x7FE0, 0x0010}, {0xFFFE, 0xE000},
       {0xFFFE, 0xE000}, {0xFFFE, 0xE0DD}});
  EXPECT_EQ(video.transferSyntax, "1.2.840.10008.1.2.4.102");
  EXPECT_TRUE(video.explicitVR);
  EXPECT_EQ(video.GetString(0x0008, 0x0016), "1.2.840.10008.5.1.4.1.1.77.1.1.1");
  EXPECT_EQ(video.GetString(0x0008, 0x0018), "1.2.3.4.10.1");
  EXPECT_EQ(video.GetString(0x0020, 0x000E), "1.2.3.4.50");
  EXPECT_EQ(Raw(video, 0x0008, 0x0060), "CT");
  EXPECT_EQ(video.GetString(0x0028, 0x0004), "YBR_PARTIAL_420");
  EXPECT_EQ(video.GetUS(0x0028, 0x0010), 720);
  EXPECT_EQ(video.GetUS(0x0028, 0x0011), 1280);
  EXPECT_EQ(video.GetUS(0x0028, 0x0002), 3);
  EXPECT_EQ(Raw(video, 0x0020, 0x0011), "");

  const std::string file = testsupport::ReadFile(path);
  const std::string fragment = convertertest::StoredValue(*video.TagAt(video.Count() - 2));
  ASSERT_EQ(fragment.size(), file.size() + file.size() % 2);
  EXPECT_EQ(fragment.compare(0, file.size(), file), 0);
  if (file.size() % 2 == 1) {
    EXPECT_EQ(fragment.back(), '\0');
  }
}

TEST_F(ConvertMp4Test, OddLengthFileGetsOneZeroByte) {
  const std::string path = MakeVideo("odd.mp4", 64, 48);
  std::string file = testsupport::ReadFile(path);
  // A trailing byte after the last box does not disturb the demuxer.
  if (file.size() % 2 == 0) file.push_back('\x01');
  testsupport::WriteFile(path, file);
  DataSetList list;
  std::string error;
  ASSERT_TRUE(ConvertMP4(path, list, error)) << error;
  const DcmTag* fragment = list[0]->TagAt(list[0]->Count() - 2);
  EXPECT_EQ(fragment->length, file.size() + 1);
  EXPECT_EQ(convertertest::StoredValue(*fragment)[file.size()], '\0');
}

TEST_F(ConvertMp4Test, ALongVideoStaysInItsFileUntilWritten) {
  const std::string path = MakeVideo("long.mp4", 64, 48);
  std::string file = testsupport::ReadFile(path);
  // A 'free' box after the clip brings the file past the length kept in files, at an odd length.
  const size_t freeSize = 1500001;
  for (int shift = 24; shift >= 0; shift -= 8) file.push_back(static_cast<char>(freeSize >> shift));
  file += "free";
  file.resize(file.size() + freeSize - 8, '\x5A');
  testsupport::WriteFile(path, file);
  DataSetList list;
  std::string error;
  ASSERT_TRUE(ConvertMP4(path, list, error)) << error;
  const DcmTag* fragment = list[0]->TagAt(list[0]->Count() - 2);
  EXPECT_EQ(fragment->value, nullptr);
  ASSERT_NE(fragment->fileValue, nullptr);
  EXPECT_EQ(fragment->length, file.size() + 1);
  EXPECT_TRUE(convertertest::StoredValue(*fragment) == file + '\0');
}

TEST_F(ConvertMp4Test, ProbeReportsSizeRateAndDuration) {
  const std::string path = MakeVideo("probe.mp4", 320, 240);
  uint32_t width = 0, height = 0, rate = 0;
  uint64_t duration = 0;
  ASSERT_EQ(GetMP4Information(path, width, height, rate, duration), 0);
  EXPECT_EQ(width, 320u);
  EXPECT_EQ(height, 240u);
  EXPECT_EQ(rate, 5u);
  EXPECT_NEAR(static_cast<double>(duration), 1000.0, 250.0);
}

TEST_F(ConvertMp4Test, FilesThatAreNotVideoLogBothLinesAndLeaveTheNumberFree) {
  const auto logFile = dir_ / "log.txt";
  SetLogTarget(logFile.string(), "", "");
  const struct {
    const char* name;
    std::string bytes;
  } rows[] = {
      {"notes.mp4", "This is a text file, not a video.\n"},
      {"empty.mp4", ""},
  };
  for (const auto& row : rows) {
    const auto path = dir_ / row.name;
    testsupport::WriteFile(path, row.bytes);
    DataSetList list;
    std::string error;
    EXPECT_FALSE(ConvertMP4(path.string(), list, error)) << row.name;
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(InstanceCounter, 0);
    EXPECT_NE(error.find(row.name), std::string::npos) << error;
  }
  // A video cut in half loses its index: refused the same way.
  std::string video = testsupport::ReadFile(MakeVideo("whole.mp4", 64, 48));
  testsupport::WriteFile(dir_ / "cut.mp4", video.substr(0, video.size() / 2));
  DataSetList list;
  std::string error;
  EXPECT_FALSE(ConvertMP4((dir_ / "cut.mp4").string(), list, error));
  ReleaseLogTarget();

  const std::string log = testsupport::ReadFile(logFile);
  EXPECT_NE(log.find("ERROR, GetMP4Information, Can't open File: " + (dir_ / "notes.mp4").string() +
                     ", "),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("ERROR, ConvertMP4,   GetMP4Information, "), std::string::npos) << log;

  // The next video of the batch takes the number the refused one would have had.
  ASSERT_TRUE(ConvertMP4(MakeVideo("next.mp4", 64, 48), list, error)) << error;
  EXPECT_EQ(list[0]->GetString(0x0008, 0x0018), "1.2.3.4.10.1");
}

TEST_F(ConvertMp4Test, AVideoCutBehindItsFrontIndexIsRefusedByName) {
  // With the index moved to the front, a cut file still opens; only its samples are missing.
  const std::string whole = (dir_ / "front.mp4").string();
  const auto made = testsupport::RunCommand(
      {"ffmpeg",    "-nostdin",   "-loglevel", "error",
       "-f",        "lavfi",      "-i",        "testsrc=size=160x120:rate=10",
       "-t",        "2",          "-c:v",      "libx264",
       "-preset",   "ultrafast",  "-pix_fmt",  "yuv420p",
       "-movflags", "+faststart", "-y",        whole});
  ASSERT_EQ(made.exitCode, 0) << made.errors;
  const std::string video = testsupport::ReadFile(whole);
  DataSetList list;
  std::string error;
  ASSERT_TRUE(ConvertMP4(whole, list, error)) << error;

  const std::string cut = Write("cut_front.mp4", video.substr(0, video.size() * 2 / 3));
  list.clear();
  InstanceCounter = 0;
  EXPECT_FALSE(ConvertMP4(cut, list, error));
  EXPECT_TRUE(list.empty());
  EXPECT_EQ(InstanceCounter, 0);
  EXPECT_NE(error.find("cut_front.mp4"), std::string::npos) << error;
  EXPECT_NE(error.find("truncated"), std::string::npos) << error;
}

// The label follows the stream: HEVC Main and Main 10 get their own syntaxes, and a codec that
// no syntax names is refused with the file and the codec in the message.
TEST_F(ConvertMp4Test, TheLabelFollowsTheCodec) {
  struct Case {
    const char* name;
    std::vector<std::string> encoder;
    std::string expected;  // transfer syntax, or a part of the error
    bool converts;
  };
  const Case cases[] = {
      {"hevc-main.mp4",
       {"-c:v", "libx265", "-pix_fmt", "yuv420p", "-tag:v", "hvc1"},
       "1.2.840.10008.1.2.4.107",
       true},
      {"hevc-main10.mp4",
       {"-c:v", "libx265", "-pix_fmt", "yuv420p10le", "-tag:v", "hvc1"},
       "1.2.840.10008.1.2.4.108",
       true},
      {"mpeg4-part2.mp4", {"-c:v", "mpeg4"}, "its codec mpeg4 (only H.264 and HEVC)", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = (dir_ / c.name).string();
    std::vector<std::string> command = {
        "ffmpeg", "-nostdin", "-loglevel",    "error",
        "-f",     "lavfi",    "-i",           "testsrc=size=64x48:rate=5",
        "-t",     "1",        "-x265-params", "log-level=none"};
    command.insert(command.end(), c.encoder.begin(), c.encoder.end());
    command.insert(command.end(), {"-y", path});
    if (testsupport::RunCommand(command).exitCode != 0) {
      ADD_FAILURE() << "ffmpeg could not make " << c.name;
      continue;
    }
    DataSetList list;
    std::string error;
    EXPECT_EQ(ConvertMP4(path, list, error), c.converts) << error;
    if (c.converts) {
      ASSERT_EQ(list.size(), 1u);
      EXPECT_EQ(list[0]->transferSyntax, c.expected);
    } else {
      EXPECT_TRUE(list.empty());
      EXPECT_NE(error.find(path), std::string::npos) << error;
      EXPECT_NE(error.find(c.expected), std::string::npos) << error;
    }
  }
}

TEST(ResultCodeTextTest, EightUpperCaseHexDigits) {
  EXPECT_EQ(ResultCodeText(0), "00000000");
  EXPECT_EQ(ResultCodeText(-1094995529), "BEBBB1B7");  // AVERROR_INVALIDDATA
}

}  // namespace
