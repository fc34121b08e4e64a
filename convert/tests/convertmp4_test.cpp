// Tests of the video converter: the probe, elements, the whole file as one fragment, failures.
#include "convertmp4.h"

#include <gtest/gtest.h>

#include "convertertest.h"
#include "log.h"
#include "mp4probe.h"
#include "testsupport.h"
#include "videosyntax.h"

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
       {0x0008, 0x0060}, {0x0008, 0x0064}, {0x0008, 0x0070}, {0x0008, 0x0080}, {0x0008, 0x0090},
       {0x0008, 0x1030}, {0x0008, 0x2218}, {0x0010, 0x0010}, {0x0010, 0x0020}, {0x0010, 0x0030},
       {0x0010, 0x0040}, {0x0018, 0x1063}, {0x0020, 0x000D}, {0x0020, 0x000E}, {0x0020, 0x0010},
       {0x0020, 0x0011}, {0x0020, 0x0013}, {0x0020, 0x0020}, {0x0020, 0x0060}, {0x0028, 0x0002},
       {0x0028, 0x0004}, {0x0028, 0x0006}, {0x0028, 0x0008}, {0x0028, 0x0009}, {0x0028, 0x0010},
       {0x0028, 0x0011}, {0x0028, 0x0100}, {0x0028, 0x0101}, {0x0028, 0x0102}, {0x0028, 0x0103},
       {0x0028, 0x2110}, {0x0028, 0x2112}, {0x0028, 0x2114}, {0x0040, 0x0555}, {0x7FE0, 0x0010},
       {0xFFFE, 0xE000}, {0xFFFE, 0xE000}, {0xFFFE, 0xE0DD}});
  EXPECT_EQ(video.transferSyntax, "1.2.840.10008.1.2.4.102");
  EXPECT_TRUE(video.explicitVR);
  EXPECT_EQ(video.GetString(0x0008, 0x0016), "1.2.840.10008.5.1.4.1.1.77.1.1.1");
  EXPECT_EQ(video.GetString(0x0008, 0x0018), "1.2.3.4.10.1");
  EXPECT_EQ(video.GetString(0x0020, 0x000E), "1.2.3.4.50");
  // The batch is a CT one; a Video Endoscopic object is of the modality ES all the same.
  EXPECT_EQ(Raw(video, 0x0008, 0x0060), "ES");
  // One second at five frames a second, 200 ms apart; the pointer names Frame Time.
  EXPECT_EQ(video.GetString(0x0028, 0x0008), "5");
  EXPECT_EQ(video.GetString(0x0018, 0x1063), "200");
  EXPECT_EQ(Raw(video, 0x0028, 0x0009), std::string("\x18\x00\x63\x10", 4));
  EXPECT_EQ(video.FindTag(0x0028, 0x0009)->VR(), "AT");
  EXPECT_EQ(video.GetString(0x0028, 0x2110), "01");
  EXPECT_EQ(video.GetString(0x0028, 0x2114), "ISO_14496_10");
  EXPECT_EQ(video.GetString(0x0008, 0x0008), "DERIVED\\SECONDARY");
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

// The label follows the stream: H.264 up to level 4.1 and at 4.2, HEVC Main and Main 10 get their
// own syntaxes, and a stream that no syntax admits is refused with its codec, profile, level and
// size in the message.
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
      {"mpeg4-part2.mp4",
       {"-c:v", "mpeg4"},
       ": mpeg4, 64 \u00D7 48 \u2014 no DICOM video encoding allows it",
       false},
      {"hd-4.2.mp4",
       {"-c:v", "libx264", "-preset", "veryfast", "-profile:v", "high", "-level:v", "4.2",
        "-pix_fmt", "yuv420p", "-s", "1920x1080", "-r", "60"},
       "1.2.840.10008.1.2.4.104",
       true},
      {"uhd-5.1.mp4",
       {"-c:v", "libx264", "-preset", "veryfast", "-profile:v", "high", "-level:v", "5.1",
        "-pix_fmt", "yuv420p", "-s", "3840x2160"},
       ": H.264 High 5.1, 3840 \u00D7 2160 \u2014 no DICOM video encoding allows it",
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = (dir_ / c.name).string();
    std::vector<std::string> command = {
        "ffmpeg",    "-nostdin", "-loglevel",    "error",
        "-f",        "lavfi",    "-i",           "testsrc=size=64x48:rate=5",
        "-frames:v", "3",        "-x265-params", "log-level=none"};
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
      EXPECT_EQ(error, path + c.expected);
    }
  }
}

// The limits of each video transfer syntax, case by case, without making the clips.
TEST(VideoSyntaxTest, EachStreamGetsTheSyntaxWhoseLimitsItMeetsOrNone) {
  auto h264 = [](int profile, int constraints, int level, int rate = 30) {
    VideoEncoding encoding;
    encoding.codec = VideoCodec::H264;
    encoding.name = "h264";
    encoding.profile = profile;
    encoding.constraintFlags = constraints;
    encoding.level = level;
    encoding.rateNumerator = rate;
    encoding.rateDenominator = 1;
    return encoding;
  };
  auto hevc = [](int profile, int level, bool highTier = false) {
    VideoEncoding encoding;
    encoding.codec = VideoCodec::Hevc;
    encoding.name = "hevc";
    encoding.profile = profile;
    encoding.level = level;
    encoding.highTier = highTier;
    encoding.rateNumerator = 60000;
    encoding.rateDenominator = 1001;
    return encoding;
  };
  VideoEncoding vp9;
  vp9.name = "vp9";
  VideoEncoding ntsc = h264(100, 0, 41);
  ntsc.rateNumerator = 60000;
  ntsc.rateDenominator = 1001;
  const struct {
    const char* name;
    VideoEncoding encoding;
    uint32_t width, height;
    const char* syntax;       // "" for none
    const char* description;  // as a refusal names it
  } rows[] = {
      {"High 4.1 1080p", h264(100, 0, 41), 1920, 1080, "1.2.840.10008.1.2.4.102",
       "H.264 High 4.1, 1920 \u00D7 1080"},
      {"High 3.0 at 59.94", ntsc, 1280, 720, "1.2.840.10008.1.2.4.102", ""},
      {"Main 3.1", h264(77, 0, 31), 1280, 720, "1.2.840.10008.1.2.4.102", ""},
      {"Constrained Baseline 3.0", h264(66, 0xC0, 30), 640, 480, "1.2.840.10008.1.2.4.102",
       "H.264 Constrained Baseline 3, 640 \u00D7 480"},
      {"Baseline 3.0", h264(66, 0x80, 30), 640, 480, "", "H.264 Baseline 3, 640 \u00D7 480"},
      {"High 10 4.1", h264(110, 0, 41), 1920, 1080, "", "H.264 High 10 4.1, 1920 \u00D7 1080"},
      {"High 4:2:2", h264(122, 0, 40), 1920, 1080, "", ""},
      {"High 4.1 taller than 1080", h264(100, 0, 41), 1920, 1088, "", ""},
      {"High 4.1 wider than 1920", h264(100, 0, 41), 2048, 1024, "", ""},
      {"High 4.1 at 120 a second", h264(100, 0, 41, 120), 1280, 720, "",
       "H.264 High 4.1, 1280 \u00D7 720 at 120 frames a second"},
      {"High 4.2 1080p60", h264(100, 0, 42, 60), 1920, 1080, "1.2.840.10008.1.2.4.104", ""},
      {"High 5.0 1080p", h264(100, 0, 50), 1920, 1080, "", ""},
      {"High 5.1 4K", h264(100, 0, 51), 3840, 2160, "", "H.264 High 5.1, 3840 \u00D7 2160"},
      {"High, level unknown", h264(100, 0, -1), 640, 480, "", ""},
      {"HEVC Main 5.1 4096 x 2160", hevc(1, 153), 4096, 2160, "1.2.840.10008.1.2.4.107",
       "HEVC Main 5.1, 4096 \u00D7 2160"},
      {"HEVC Main 10 4.1", hevc(2, 123), 1920, 1080, "1.2.840.10008.1.2.4.108",
       "HEVC Main 10 4.1, 1920 \u00D7 1080"},
      {"HEVC Main 5.2", hevc(1, 156), 3840, 2160, "", "HEVC Main 5.2, 3840 \u00D7 2160"},
      {"HEVC Main 6.2 8K", hevc(1, 186), 7680, 4320, "", ""},
      {"HEVC Main High tier", hevc(1, 150, true), 3840, 2160, "",
       "HEVC Main High tier 5, 3840 \u00D7 2160"},
      {"HEVC Range Extensions", hevc(4, 123), 1920, 1080, "",
       "HEVC Range Extensions 4.1, 1920 \u00D7 1080"},
      {"VP9", vp9, 640, 480, "", "vp9, 640 \u00D7 480"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(TransferSyntaxForVideo(row.encoding, row.width, row.height), row.syntax) << row.name;
    if (row.description[0] != '\0') {
      EXPECT_EQ(DescribeVideo(row.encoding, row.width, row.height), row.description) << row.name;
    }
  }
}

TEST(ResultCodeTextTest, EightUpperCaseHexDigits) {
  EXPECT_EQ(ResultCodeText(0), "00000000");
  EXPECT_EQ(ResultCodeText(-1094995529), "BEBBB1B7");  // AVERROR_INVALIDDATA
}

}  // namespace
