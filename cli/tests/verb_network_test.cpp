// The network verbs run as a user would, against DCMTK's storescp and Orthanc as a whole PACS:
// echo, send of every kind of object, store of existing files, and both searches.
#include <gtest/gtest.h>

#include <png.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "clirun.h"
#include "dcmtk_peer.h"
#include "dicomfile.h"
#include "orthanc.h"
#include "testpictures.h"
#include "testsupport.h"

namespace {

using clitest::Cli;
using clitest::kPdf;
using testsupport::CommandResult;
using testsupport::RunCommand;
using testsupport::TempDir;
using testsupport::WriteFile;

std::vector<std::string> PacsOptions(const std::string& port, const TempDir& work,
                                     const std::string& aet = "STORESCP") {
  return {"--pacs-aet",  aet,
          "--pacs-port", port,
          "--log",       (work / "velloran.log").string(),
          "--ini",       (work / "none.ini").string()};
}

std::vector<std::string> Join(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// One file of each kind the batch converts.
struct Sources {
  std::string jpeg, pdf, text, video;
};

Sources MakeSources(const TempDir& work) {
  Sources sources;
  sources.jpeg = (work / "photo.jpg").string();
  WriteFile(sources.jpeg, testpictures::MakeJpeg(64, 48, false));
  sources.pdf = (work / "letter.pdf").string();
  WriteFile(sources.pdf, kPdf);
  sources.text = (work / "note.txt").string();
  WriteFile(sources.text, "Findings: none.\r\nSecond line.\r\n");
  sources.video = (work / "clip.mp4").string();
  RunCommand({"ffmpeg", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
              "testsrc=size=64x48:rate=5", "-t", "1", "-pix_fmt", "yuv420p", sources.video});
  return sources;
}

std::vector<std::string> ReceivedClasses(const dcmtkpeer::StoreSCP& peer) {
  std::vector<std::string> classes;
  for (const auto& path : peer.Received()) {
    DicomFile file;
    std::string error;
    if (ReadDicomFile(path.string(), file, error)) {
      classes.push_back(file.meta.GetString(0x0002, 0x0002) + " " +
                        file.meta.GetString(0x0002, 0x0010));
    }
  }
  std::sort(classes.begin(), classes.end());
  return classes;
}

const std::vector<std::string> kPatient = {"--patient-name", "DOE^JANE", "--patient-id", "PID-42"};

// Two Part 10 files made by the save verb from a photo and a PDF; empty when saving failed.
std::vector<std::string> SavedPhotoAndPdf(const TempDir& work) {
  const Sources sources = MakeSources(work);
  const CommandResult saved =
      Cli("save", Join(Join(kPatient, {"--out", (work / "saved").string(), "--ini",
                                       (work / "none.ini").string()}),
                       {sources.jpeg, sources.pdf}));
  std::vector<std::string> files;
  if (saved.exitCode != 0) return files;
  for (const auto& entry : std::filesystem::directory_iterator(work / "saved")) {
    files.push_back(entry.path().string());
  }
  return files;
}

bool HavePeers() {
  return testsupport::HaveProgram("storescp") && testsupport::HaveProgram("ffmpeg");
}

TEST(NetworkVerbs, EchoReportsAnswerAndSilence) {
  ASSERT_TRUE(HavePeers()) << "storescp missing (scripts/setup.sh installs them)";
  TempDir work;
  dcmtkpeer::StoreSCP peer(work / "scp", {}, {});
  ASSERT_TRUE(peer.Running());
  const CommandResult up = Cli("echo", PacsOptions(peer.Port(), work));
  EXPECT_EQ(up.exitCode, 0);
  EXPECT_EQ(up.output, "STORESCP is up and running!\n");
  // --worklist tests the worklist server's settings, not the PACS's (here nobody listens).
  const CommandResult worklist =
      Cli("echo", Join(PacsOptions(std::to_string(testsupport::FreePort()), work, "NOBODY"),
                       {"--worklist", "--wl-aet", "WLSERVER", "--wl-port", peer.Port()}));
  EXPECT_EQ(worklist.exitCode, 0);
  EXPECT_EQ(worklist.output, "WLSERVER is up and running!\n");
  const CommandResult down =
      Cli("echo", PacsOptions(std::to_string(testsupport::FreePort()), work, "NOBODY"));
  EXPECT_EQ(down.exitCode, 1);
  EXPECT_EQ(down.output, "ERROR, NOBODY does not answer!\n");
  EXPECT_NE(testsupport::ReadFile(work / "velloran.log").find("ERROR, EchoSCU, OpenAssoc failed"),
            std::string::npos);
}

TEST(NetworkVerbs, SendStoresEveryKindInWhatThePeerAccepts) {
  ASSERT_TRUE(HavePeers()) << "storescp or ffmpeg missing (scripts/setup.sh installs them)";
  TempDir work;
  const Sources sources = MakeSources(work);
  const std::vector<std::string> files = {sources.jpeg, sources.pdf, sources.text, sources.video};
  const std::vector<std::string> classes = {
      "1.2.840.10008.5.1.4.1.1.7", "1.2.840.10008.5.1.4.1.1.104.1", "1.2.840.10008.5.1.4.1.1.88.11",
      "1.2.840.10008.5.1.4.1.1.77.1.1.1"};

  // A peer that takes every encoding receives each object as it was made.
  dcmtkpeer::StoreSCP open(work / "open", classes,
                           {"1.2.840.10008.1.2.4.50", "1.2.840.10008.1.2.4.102",
                            "1.2.840.10008.1.2.1", "1.2.840.10008.1.2"});
  ASSERT_TRUE(open.Running());
  CommandResult sent = Cli("send", Join(Join(kPatient, PacsOptions(open.Port(), work)), files));
  EXPECT_EQ(sent.exitCode, 0) << sent.errors;
  EXPECT_EQ(sent.output, "Images sent OK\n");
  EXPECT_EQ(ReceivedClasses(open),
            (std::vector<std::string>{"1.2.840.10008.5.1.4.1.1.104.1 1.2.840.10008.1.2.1",
                                      "1.2.840.10008.5.1.4.1.1.7 1.2.840.10008.1.2.4.50",
                                      "1.2.840.10008.5.1.4.1.1.77.1.1.1 1.2.840.10008.1.2.4.102",
                                      "1.2.840.10008.5.1.4.1.1.88.11 1.2.840.10008.1.2.1"}));

  // A peer that takes only Implicit VR Little Endian: the picture is decoded, the PDF and the
  // report re-encoded; the video cannot be, so it is not sent and the batch reports failure.
  dcmtkpeer::StoreSCP strict(work / "strict", classes, {"1.2.840.10008.1.2"});
  ASSERT_TRUE(strict.Running());
  sent = Cli("send",
             Join(Join(Join(kPatient, {"--direct"}), PacsOptions(strict.Port(), work)), files));
  EXPECT_EQ(sent.exitCode, 1);
  EXPECT_NE(sent.errors.find("ERROR Sending Images, please check Log file"), std::string::npos);
  EXPECT_EQ(sent.output, "");
  EXPECT_EQ(ReceivedClasses(strict),
            (std::vector<std::string>{"1.2.840.10008.5.1.4.1.1.104.1 1.2.840.10008.1.2",
                                      "1.2.840.10008.5.1.4.1.1.7 1.2.840.10008.1.2",
                                      "1.2.840.10008.5.1.4.1.1.88.11 1.2.840.10008.1.2"}));
  EXPECT_NE(testsupport::ReadFile(work / "velloran.log").find("ERROR, WriteStoreRQ for "),
            std::string::npos);
}

// The line that follows `line` in `text`, or "(no line after ...)" to show in a failed check.
std::string LineAfter(const std::string& text, const std::string& line) {
  const size_t found = text.find(line + "\n");
  if (found == std::string::npos) return "(no line \"" + line + "\" in: " + text + ")";
  const size_t start = found + line.size() + 1;
  const size_t end = text.find('\n', start);
  return text.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

// Items that give no object (a picture that cannot be decoded, a TXT without text) are named
// with their reasons and fail the run; the photo beside them arrives all the same.
TEST(NetworkVerbs, SendNamesTheFilesThatGaveNoObjectAndSendsTheRest) {
  ASSERT_TRUE(HavePeers()) << "storescp missing (scripts/setup.sh installs them)";
  TempDir work;
  const Sources sources = MakeSources(work);
  WriteFile(work / "broken.jpg", "\xFF\xD8\xFF\xE0 not really a picture");
  WriteFile(work / "empty.txt", "");
  dcmtkpeer::StoreSCP peer(work / "scp", {"1.2.840.10008.5.1.4.1.1.7"},
                           {"1.2.840.10008.1.2.4.50", "1.2.840.10008.1.2"});
  ASSERT_TRUE(peer.Running());
  const std::vector<std::string> files = {sources.jpeg, (work / "broken.jpg").string(),
                                          (work / "empty.txt").string()};
  // Directly and through the outbox alike.
  const std::vector<std::vector<std::string>> ways = {{"--direct"}, {}};
  for (size_t way = 0; way < ways.size(); ++way) {
    SCOPED_TRACE(way == 0 ? "direct" : "outbox");
    const CommandResult sent =
        Cli("send", Join(Join(Join(kPatient, ways[way]), PacsOptions(peer.Port(), work)), files));
    EXPECT_EQ(sent.exitCode, 1);
    EXPECT_EQ(sent.output.find("Images sent OK"), std::string::npos);
    // The sentence, the first cause under it, then every file not sent with its reason.
    const std::string cause = LineAfter(sent.errors, "ERROR Sending Images, please check Log file");
    EXPECT_EQ(cause.rfind("broken.jpg: ", 0), 0u) << sent.errors;
    const std::string notSent = LineAfter(sent.errors, cause);
    EXPECT_EQ(notSent.rfind("2 of 3 items were not sent: broken.jpg (", 0), 0u) << sent.errors;
    EXPECT_NE(notSent.find("), empty.txt (no text)"), std::string::npos) << sent.errors;
    EXPECT_EQ(peer.Received().size(), way + 1);
  }
}

TEST(NetworkVerbs, StoreForwardsFilesAsTheyAreAndNamesThoseItCannot) {
  ASSERT_TRUE(HavePeers()) << "storescp missing (scripts/setup.sh installs them)";
  TempDir work;
  // Files made by the save verb: an image (JPEG baseline) and a PDF object (explicit VR).
  const std::vector<std::string> files = SavedPhotoAndPdf(work);
  ASSERT_EQ(files.size(), 2u);
  dcmtkpeer::StoreSCP peer(work / "scp",
                           {"1.2.840.10008.5.1.4.1.1.7", "1.2.840.10008.5.1.4.1.1.104.1"},
                           {"1.2.840.10008.1.2.4.50", "1.2.840.10008.1.2.1", "1.2.840.10008.1.2"});
  ASSERT_TRUE(peer.Running());
  WriteFile(work / "not-dicom.dcm", "hello");
  const CommandResult stored =
      Cli("store", Join(PacsOptions(peer.Port(), work),
                        {files[0], (work / "not-dicom.dcm").string(), files[1]}));
  EXPECT_EQ(stored.exitCode, 1);
  EXPECT_NE(stored.errors.find("not-dicom.dcm"), std::string::npos) << stored.errors;
  ASSERT_EQ(peer.Received().size(), 2u);
  // Sent byte for byte: the data set storescp wrote equals the one in the source file.
  for (const auto& received : peer.Received()) {
    DicomFile got;
    std::string error;
    ASSERT_TRUE(ReadDicomFile(received.string(), got, error)) << error;
    const std::string uid = got.meta.GetString(0x0002, 0x0003);
    const auto source = std::find_if(files.begin(), files.end(), [&](const std::string& path) {
      return path.find(uid) != std::string::npos;
    });
    ASSERT_NE(source, files.end());
    DicomFile original;
    ASSERT_TRUE(ReadDicomFile(*source, original, error));
    EXPECT_EQ(got.meta.GetString(0x0002, 0x0010), original.meta.GetString(0x0002, 0x0010));
    std::vector<std::string> a, b;
    got.dataSet.Dump(a);
    original.dataSet.Dump(b);
    EXPECT_EQ(a, b);
  }
}

// After its fixed message a failed verb names the cause on the next line of stderr: the first
// error the run logged, not the consequence that ended the operation.
TEST(NetworkVerbs, FailuresNameTheirCauseAfterTheMessage) {
  TempDir work;
  const std::string port = std::to_string(testsupport::FreePort());
  const std::string refused =
      "ERROR, Connecting to Socket: 127.0.0.1:" + port + ", 111 (Connection refused)";
  const std::string missing = (work / "missing.jpg").string();
  const std::string unreadable =
      "ERROR, ConvertItems, Cannot open file \"" + missing + "\": No such file or directory";
  const std::string notAnswering = "The PACS at 127.0.0.1:" + port + " did not answer";
  WriteFile(work / "broken.png", "\x89PNG\r\n\x1a\n but nothing more");
  const std::vector<std::string> pacs =
      Join({"--pacs-host", "127.0.0.1"}, PacsOptions(port, work, "NOBODY"));
  struct Case {
    const char* name;
    std::string verb;
    std::vector<std::string> args;
    std::string message;  // the fixed message; the cause must be the next line of stderr
    std::string cause;    // the whole line, or its start when it ends in "..."
  };
  const Case cases[] = {
      {"echo, nobody listens", "echo", pacs, "", refused},
      {"send, nobody listens", "send",
       Join(Join(kPatient, pacs), {"--direct", (work / "x.txt").string()}),
       "ERROR Sending Images, please check Log file", notAnswering},
      {"send, nobody listens, the log's cause last", "send",
       Join(Join(kPatient, pacs), {"--direct", (work / "x.txt").string()}),
       "1 of 1 items were not sent: x.txt", refused},
      {"find, nobody listens", "find", Join(pacs, {"--pacs", "--name", "DOE"}),
       "ERROR, couldn't connect to NOBODY", refused},
      {"send, source missing", "send", Join(Join(kPatient, pacs), {"--direct", missing}),
       "ERROR Sending Images, please check Log file", "missing.jpg: No such file or directory"},
      {"save, source missing", "save",
       Join(kPatient,
            {"--out", (work / "out").string(), "--ini", (work / "none.ini").string(), missing}),
       "1 of 1 items were not written: missing.jpg (No such file or directory)", unreadable},
      {"save, source not a picture", "save",
       Join(kPatient, {"--out", (work / "out").string(), "--ini", (work / "none.ini").string(),
                       (work / "broken.png").string()}),
       "",
       "ERROR, ConvertItems, Cannot convert picture \"" + (work / "broken.png").string() + "\"..."},
  };
  WriteFile(work / "x.txt", "text\r\n");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const CommandResult result = Cli(c.verb, c.args);
    EXPECT_EQ(result.exitCode, 1) << result.errors;
    std::string cause;
    if (c.verb == "echo") {
      EXPECT_EQ(result.output, "ERROR, NOBODY does not answer!\n");
      cause = result.errors.substr(0, result.errors.find('\n'));
    } else if (c.message.empty()) {
      const size_t start = result.errors.rfind("\nERROR, ");
      cause = start == std::string::npos ? result.errors : result.errors.substr(start + 1);
      cause = cause.substr(0, cause.find('\n'));
    } else {
      cause = LineAfter(result.errors, c.message);
    }
    if (c.cause.size() > 3 && c.cause.compare(c.cause.size() - 3, 3, "...") == 0) {
      EXPECT_EQ(cause.rfind(c.cause.substr(0, c.cause.size() - 3), 0), 0u) << result.errors;
    } else {
      EXPECT_EQ(cause, c.cause) << result.errors;
    }
  }
  EXPECT_FALSE(std::filesystem::exists(work / "out")) << "a failed save wrote files";
}

// Files written by DCMTK without meta group, and deflated: each is proposed in the encoding its
// bytes are in, and sent as they are when the peer takes that; otherwise it is re-encoded (a
// deflated one inflated) into what the peer accepted. Either way the peer gets the same elements.
TEST(NetworkVerbs, StoreSendsDeflatedAndMetaLessFilesAsTheyAreOrReencoded) {
  ASSERT_TRUE(HavePeers() && testsupport::HaveProgram("dcmconv"))
      << "DCMTK missing (scripts/setup.sh installs it)";
  TempDir work;
  struct Variant {
    const char* name;
    std::vector<std::string> options;
    const char* syntax;     // what the file's bytes are in
    const char* reencoded;  // what a peer taking only explicit VR little endian gets
  };
  const Variant variants[] = {
      {"deflated", {"+td"}, "1.2.840.10008.1.2.1.99", "1.2.840.10008.1.2.1"},
      {"bare-big-endian", {"-F", "+tb"}, "1.2.840.10008.1.2.2", "1.2.840.10008.1.2.1"},
      {"bare-implicit", {"-F", "+ti"}, "1.2.840.10008.1.2", "1.2.840.10008.1.2"},
  };
  std::vector<std::string> files;
  for (size_t i = 0; i < std::size(variants); ++i) {
    auto image =
        dcmtkpeer::NativeImage("1.2.826.0.1.3680043.2.1143.77." + std::to_string(i), 32, 16);
    const std::string native = (work / (std::string(variants[i].name) + "-native.dcm")).string();
    ASSERT_TRUE(image->SaveToFile(native, image->GetString(0x0008, 0x0016),
                                  image->GetString(0x0008, 0x0018)));
    files.push_back((work / (std::string(variants[i].name) + ".dcm")).string());
    std::vector<std::string> argv = {"dcmconv"};
    argv.insert(argv.end(), variants[i].options.begin(), variants[i].options.end());
    argv.insert(argv.end(), {native, files.back()});
    const auto converted = RunCommand(argv);
    ASSERT_EQ(converted.exitCode, 0) << converted.errors;
  }
  struct Peer {
    const char* name;
    std::vector<std::string> accepted;
    bool asTheyAre;
  };
  const Peer peers[] = {
      {"taking-all", {"1.2.840.10008.1.2.1.99", "1.2.840.10008.1.2.2", "1.2.840.10008.1.2"}, true},
      {"explicit-only", {"1.2.840.10008.1.2.1", "1.2.840.10008.1.2"}, false},
  };
  for (const Peer& p : peers) {
    SCOPED_TRACE(p.name);
    dcmtkpeer::StoreSCP peer(work / p.name, {"1.2.840.10008.5.1.4.1.1.7"}, p.accepted);
    ASSERT_TRUE(peer.Running());
    const CommandResult stored = Cli("store", Join(PacsOptions(peer.Port(), work), files));
    EXPECT_EQ(stored.exitCode, 0) << stored.errors;
    ASSERT_EQ(peer.Received().size(), files.size());
    for (const auto& received : peer.Received()) {
      DicomFile got;
      std::string error;
      ASSERT_TRUE(ReadDicomFile(received.string(), got, error)) << error;
      const std::string uid = got.dataSet.GetString(0x0008, 0x0018);
      const size_t i = static_cast<size_t>(uid.back() - '0');
      ASSERT_LT(i, files.size()) << uid;
      SCOPED_TRACE(variants[i].name);
      EXPECT_EQ(got.meta.GetString(0x0002, 0x0010),
                p.asTheyAre ? variants[i].syntax : variants[i].reencoded);
      DicomFile original;
      ASSERT_TRUE(ReadDicomFile(files[i], original, error)) << error;
      EXPECT_EQ(dcmtkpeer::NativePixels(got.dataSet), dcmtkpeer::NativePixels(original.dataSet));
      std::vector<std::string> a, b;
      got.dataSet.Dump(a);
      original.dataSet.Dump(b);
      EXPECT_EQ(a, b);
    }
  }
}

// The element lines dcmdump prints for a file's data set: values as DCMTK reads them, whatever
// the encoding (comments, the meta group and blank lines are left out).
std::string DcmdumpDataSet(const std::filesystem::path& path) {
  const CommandResult dump = RunCommand({"dcmdump", "-q", path.string()});
  std::istringstream text(dump.output);
  std::string lines;
  for (std::string line; std::getline(text, line);) {
    const size_t start = line.find_first_not_of(' ');
    if (start == std::string::npos || line[start] == '#' || line.rfind("(0002,", 0) == 0) continue;
    lines += line + "\n";
  }
  return lines;
}

// Objects that are not images, in Explicit VR Big Endian: numbers at the top level and inside a
// sequence, a private block and a document. A peer that refuses Big Endian gets them re-encoded in
// Explicit VR Little Endian with the same values; one that takes it gets the files' own bytes.
TEST(NetworkVerbs, StoreSendsBigEndianFilesOfAnyClassReencodedWhenThePeerRefusesBigEndian) {
  ASSERT_TRUE(HavePeers() && testsupport::HaveProgram("dump2dcm"))
      << "DCMTK missing (scripts/setup.sh installs it)";
  TempDir work;
  const std::string elements = R"(
(0010,0010) PN [ROE^RICHARD]
(0011,0010) LO [VELLORAN TEST]
(0011,1001) OB 01\02\03\04
(0018,9089) FD 0.5\0.25\-1
(0040,a0b0) US 1\2\258
(0040,a132) UL 70000
(0040,a730) SQ (Sequence with explicit length)
  (fffe,e000) na (Item with explicit length)
    (0040,a0b0) US 513
    (0040,a160) UT [Findings: none.]
  (fffe,e00d) na
(fffe,e0dd) na
)";
  const struct {
    const char* name;
    const char* sopClass;
    std::string extra;
    std::vector<std::string> options;
  } objects[] = {
      {"pdf",
       "1.2.840.10008.5.1.4.1.1.104.1",
       "(0042,0011) OB 25\\50\\44\\46\\2d\\31\\2e\\34\n(0042,0012) LO [application/pdf]\n",
       {"+tb"}},
      {"sr", "1.2.840.10008.5.1.4.1.1.88.11", "", {"+tb"}},
      {"bare-sr", "1.2.840.10008.5.1.4.1.1.88.11", "", {"+tb", "-F"}},
  };
  std::vector<std::string> files;
  for (size_t i = 0; i < std::size(objects); ++i) {
    const std::string text = std::string("(0008,0016) UI [") + objects[i].sopClass + "]\n" +
                             "(0008,0018) UI [1.2.826.0.1.3680043.2.1143.78." + std::to_string(i) +
                             "]\n" + elements + objects[i].extra;
    WriteFile(work / (std::string(objects[i].name) + ".txt"), text);
    files.push_back((work / (std::string(objects[i].name) + ".dcm")).string());
    std::vector<std::string> argv = {"dump2dcm"};
    argv.insert(argv.end(), objects[i].options.begin(), objects[i].options.end());
    argv.insert(argv.end(), {(work / (std::string(objects[i].name) + ".txt")).string(), files[i]});
    const CommandResult made = RunCommand(argv);
    ASSERT_EQ(made.exitCode, 0) << made.errors;
  }
  const struct {
    const char* name;
    std::vector<std::string> accepted;
    const char* arrives;
  } peers[] = {
      {"refusing-big-endian", {"1.2.840.10008.1.2.1", "1.2.840.10008.1.2"}, "1.2.840.10008.1.2.1"},
      {"taking-big-endian", {"1.2.840.10008.1.2.2"}, "1.2.840.10008.1.2.2"},
  };
  for (const auto& p : peers) {
    SCOPED_TRACE(p.name);
    dcmtkpeer::StoreSCP peer(work / p.name,
                             {"1.2.840.10008.5.1.4.1.1.104.1", "1.2.840.10008.5.1.4.1.1.88.11"},
                             p.accepted);
    ASSERT_TRUE(peer.Running());
    const CommandResult stored = Cli("store", Join(PacsOptions(peer.Port(), work), files));
    EXPECT_EQ(stored.exitCode, 0) << stored.errors;
    ASSERT_EQ(peer.Received().size(), files.size()) << stored.errors;
    for (const auto& received : peer.Received()) {
      DicomFile got;
      std::string error;
      ASSERT_TRUE(ReadDicomFile(received.string(), got, error)) << error;
      const std::string uid = got.dataSet.GetString(0x0008, 0x0018);
      const size_t i = static_cast<size_t>(uid.back() - '0');
      ASSERT_LT(i, files.size()) << uid;
      SCOPED_TRACE(objects[i].name);
      EXPECT_EQ(got.meta.GetString(0x0002, 0x0010), p.arrives);
      const std::string expected = DcmdumpDataSet(files[i]);
      EXPECT_NE(expected.find("(0040,a132) UL 70000"), std::string::npos) << expected;
      EXPECT_EQ(DcmdumpDataSet(received), expected);
    }
  }
}

// "SOP class UID transfer syntax UID" of every instance Orthanc stored, sorted, from its REST API.
std::vector<std::string> StoredEncodings(const testsupport::OrthancPacs& pacs) {
  const char* script =
      "import json, sys, urllib.request as web\n"
      "base = 'http://127.0.0.1:' + sys.argv[1]\n"
      "get = lambda path: web.urlopen(base + path).read().decode()\n"
      "for i in json.loads(get('/instances')):\n"
      "    m = '/instances/' + i + '/metadata/'\n"
      "    print(get(m + 'SopClassUid'), get(m + 'TransferSyntax'))\n";
  const CommandResult listed =
      RunCommand({"/usr/bin/python3", "-c", script, std::to_string(pacs.HttpPort())});
  std::vector<std::string> lines;
  std::istringstream text(listed.output);
  for (std::string line; std::getline(text, line);) lines.push_back(line);
  std::sort(lines.begin(), lines.end());
  return lines;
}

// A CA, a server certificate for 127.0.0.1 and a client certificate signed by it, and an
// unrelated self-signed certificate, in `folder`.
void MakeCertificates(const TempDir& folder) {
  const std::string dir = folder.path().string();
  auto run = [](const std::vector<std::string>& argv) {
    const CommandResult result = RunCommand(argv);
    ASSERT_EQ(result.exitCode, 0) << result.errors;
  };
  for (const char* name : {"ca", "other"}) {
    run({"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
         std::string("/CN=") + name, "-keyout", dir + "/" + name + ".key", "-out",
         dir + "/" + name + ".pem"});
  }
  WriteFile(folder / "server.ext", "subjectAltName=IP:127.0.0.1\n");
  WriteFile(folder / "client.ext", "extendedKeyUsage=clientAuth\n");
  for (const char* name : {"server", "client"}) {
    const std::string base = dir + "/" + name;
    run({"openssl", "req", "-newkey", "rsa:2048", "-nodes", "-subj",
         std::string("/CN=") + (name == std::string("server") ? "127.0.0.1" : "velloran"),
         "-keyout", base + ".key", "-out", base + ".csr"});
    run({"openssl", "x509", "-req", "-in", base + ".csr", "-CA", dir + "/ca.pem", "-CAkey",
         dir + "/ca.key", "-CAcreateserial", "-days", "2", "-extfile", base + ".ext", "-out",
         base + ".pem"});
  }
}

// A storescp over TLS that requires a client certificate signed by the CA: echo and store
// through the command line with --cert/--key, and --verify of the peer's certificate.
TEST(NetworkVerbs, TlsWithTheClientCertificateThePeerRequires) {
  ASSERT_TRUE(HavePeers() && testsupport::HaveProgram("openssl"))
      << "storescp or openssl missing (scripts/setup.sh installs them)";
  TempDir work;
  TempDir keys;
  MakeCertificates(keys);
  if (HasFatalFailure()) return;
  auto file = [&](const char* name) { return (keys / name).string(); };
  dcmtkpeer::StoreSCP peer(work / "scp", {"1.2.840.10008.5.1.4.1.1.7"},
                           {"1.2.840.10008.1.2.1", "1.2.840.10008.1.2"},
                           {"+tls", file("server.key"), file("server.pem"), "+cf", file("ca.pem")});
  ASSERT_TRUE(peer.Running()) << testsupport::ReadFile(work / "scp" / "storescp.log");
  const std::vector<std::string> client = {"--tls", "--cert", file("client.pem"), "--key",
                                           file("client.key")};
  const struct {
    const char* name;
    std::vector<std::string> options;
    bool answered;
  } rows[] = {
      {"client certificate", client, true},
      {"client certificate, peer verified", Join(client, {"--verify", file("ca.pem")}), true},
      {"no client certificate", {"--tls"}, false},
      {"peer verified against an unrelated CA", Join(client, {"--verify", file("other.pem")}),
       false},
      {"certificate the peer's CA did not sign",
       {"--tls", "--cert", file("other.pem"), "--key", file("other.key")},
       false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const CommandResult echo = Cli("echo", Join(PacsOptions(peer.Port(), work), row.options));
    EXPECT_EQ(echo.exitCode, row.answered ? 0 : 1) << echo.output << echo.errors;
    EXPECT_EQ(echo.output, row.answered ? "STORESCP is up and running!\n"
                                        : "ERROR, STORESCP does not answer!\n");
  }

  // A file stored over the verified connection arrives.
  const Sources sources = MakeSources(work);
  const CommandResult saved =
      Cli("save", Join(Join(kPatient, {"--out", (work / "saved").string(), "--ini",
                                       (work / "none.ini").string()}),
                       {sources.jpeg}));
  ASSERT_EQ(saved.exitCode, 0) << saved.errors;
  const std::string path = saved.output.substr(0, saved.output.find('\n'));
  const CommandResult stored = Cli("store", Join(Join(PacsOptions(peer.Port(), work), client),
                                                 {"--verify", file("ca.pem"), path}));
  EXPECT_EQ(stored.exitCode, 0) << stored.errors;
  EXPECT_EQ(peer.Received().size(), 1u);
}

TEST(NetworkVerbs, OrthancAsAWholePacs) {
  ASSERT_TRUE(testsupport::OrthancPacs::Available() && testsupport::HaveProgram("dump2dcm"))
      << "Orthanc, its worklist plugin or dump2dcm missing (scripts/setup.sh installs them)";
  TempDir work;
  testsupport::OrthancPacs pacs(work);
  ASSERT_TRUE(pacs.Running()) << testsupport::ReadFile(work / "orthanc.log");
  const auto options = PacsOptions(pacs.Port(), work, "ORTHANC");
  EXPECT_EQ(Cli("echo", options).output, "ORTHANC is up and running!\n");

  const Sources sources = MakeSources(work);
  const CommandResult sent =
      Cli("send", Join(Join(Join(kPatient, {"--study-description", "Knee \xC3\xA9tude",
                                            "--accession", "ACC-77", "--study-date", "20240215"}),
                            options),
                       {sources.jpeg, sources.pdf}));
  ASSERT_EQ(sent.exitCode, 0) << sent.errors;

  // The stored study is found by name, with the accented description widened back to UTF-8.
  const CommandResult found =
      Cli("find", Join(options, {"--pacs", "--name", "DOE", "--from", "20240201", "--to",
                                 "20240229", "--json"}));
  EXPECT_EQ(found.exitCode, 0) << found.errors;
  EXPECT_NE(found.output.find("\"name\":\"DOE^JANE\",\"id\":\"PID-42\""), std::string::npos)
      << found.output;
  EXPECT_NE(found.output.find("\"studyDescription\":\"Knee \xC3\xA9tude\""), std::string::npos);
  EXPECT_NE(found.output.find("\"accessionNumber\":\"ACC-77\""), std::string::npos);
  EXPECT_EQ(std::count(found.output.begin(), found.output.end(), '\n'), 1);
  const CommandResult other = Cli(
      "find", Join(options, {"--pacs", "--name", "DOE", "--from", "20230101", "--to", "20230131"}));
  EXPECT_EQ(other.exitCode, 0);
  EXPECT_EQ(other.output, "");

  // A worklist entry, served by the plugin from its folder.
  WriteFile(
      work / "entry.txt",
      "(0008,0005) CS [ISO_IR 100]\n(0008,0050) SH [WL-1]\n(0010,0010) PN [ROE^RICHARD]\n"
      "(0010,0020) LO [PID-9]\n(0010,0040) CS [M]\n(0020,000d) UI [1.2.826.0.1.3680043.10.90]\n"
      "(0032,1060) LO [XRAY CHEST]\n(0040,0100) SQ\n(fffe,e000) -\n(0008,0060) CS [CR]\n"
      "(0040,0001) AE [ORTHANC]\n(0040,0002) DA [20240301]\n(0040,0003) TM [101500]\n"
      "(0040,0007) LO [CHEST PA]\n(0040,0009) SH [SPS1]\n(fffe,e00d) -\n(fffe,e0dd) -\n"
      "(0040,1001) SH [RP1]\n");
  ASSERT_EQ(RunCommand({"dump2dcm", (work / "entry.txt").string(),
                        (pacs.Worklists() / "entry.wl").string()})
                .exitCode,
            0);
  // The grid shows the date in the order of the user's country: month first in the United
  // States, day first elsewhere.
  const struct {
    const char* locale;
    const char* date;
  } locales[] = {{"LC_ALL=en_US.UTF-8", "03/01/2024"}, {"LC_ALL=de_DE.UTF-8", "01/03/2024"}};
  for (const auto& locale : locales) {
    std::vector<std::string> argv = {"env", locale.locale, VELLORAN_CLI, "find"};
    for (const std::string& arg :
         Join(Join(options, {"--wl-aet", "ORTHANC", "--wl-port", pacs.Port()}),
              {"--worklist", "--name", "ROE", "--to", "20240301"})) {
      argv.push_back(arg);
    }
    const CommandResult worklist = RunCommand(argv);
    EXPECT_EQ(worklist.exitCode, 0) << worklist.errors;
    EXPECT_EQ(worklist.output, std::string("ROE^RICHARD\tPID-9\tM\t\tCHEST PA\t") + locale.date +
                                   "\tWL-1\t1.2.826.0.1.3680043.10.90\n");
  }
}

// A TLS server whose certificate the given CA file does not vouch for: the cause line says so,
// not merely that the handshake failed.
TEST(NetworkVerbs, UntrustedServerCertificateIsNamedAsTheCause) {
  ASSERT_TRUE(HavePeers() && testsupport::HaveProgram("openssl")) << "storescp or openssl missing";
  TempDir work;
  auto selfSigned = [&](const std::string& name, const std::string& subject) {
    return RunCommand({"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                       "ec_paramgen_curve:prime256v1", "-nodes", "-keyout",
                       (work / (name + ".key")).string(), "-out", (work / (name + ".pem")).string(),
                       "-days", "1", "-subj", subject})
        .exitCode;
  };
  ASSERT_EQ(selfSigned("server", "/CN=127.0.0.1"), 0);
  ASSERT_EQ(selfSigned("other", "/CN=other"), 0);
  dcmtkpeer::StoreSCP peer(
      work / "scp", {}, {},
      {"+tls", (work / "server.key").string(), (work / "server.pem").string(), "-ic"});
  ASSERT_TRUE(peer.Running());
  const CommandResult echo = Cli(
      "echo",
      Join(PacsOptions(peer.Port(), work), {"--tls", "--verify", (work / "other.pem").string()}));
  EXPECT_EQ(echo.exitCode, 1);
  EXPECT_EQ(echo.output, "ERROR, STORESCP does not answer!\n");
  EXPECT_EQ(echo.errors.rfind("ERROR, Socket::StartTLS, server certificate not trusted: ", 0), 0u)
      << echo.errors;
}

// A PACS that does not know the called AE title refuses the association; the cause line says so
// with the reason the PACS gave.
TEST(NetworkVerbs, RejectedAeTitleIsNamedAsTheCause) {
  ASSERT_TRUE(testsupport::OrthancPacs::Available()) << "Orthanc or its worklist plugin missing";
  TempDir work;
  testsupport::OrthancPacs pacs(work, testsupport::OrthancPacs::CalledAet::MustMatch);
  ASSERT_TRUE(pacs.Running()) << testsupport::ReadFile(work / "orthanc.log");
  EXPECT_EQ(Cli("echo", PacsOptions(pacs.Port(), work, "ORTHANC")).exitCode, 0);
  const std::string rejected =
      "ERROR, PDU_Service::Connect, association rejected permanently by the called application: "
      "called AE title not recognized (result 1, source 1, reason 7)";
  const CommandResult echo = Cli("echo", PacsOptions(pacs.Port(), work, "WRONGAET"));
  EXPECT_EQ(echo.exitCode, 1);
  EXPECT_EQ(echo.output, "ERROR, WRONGAET does not answer!\n");
  EXPECT_EQ(echo.errors.substr(0, echo.errors.find('\n')), rejected) << echo.errors;
  const Sources sources = MakeSources(work);
  const CommandResult sent = Cli(
      "send",
      Join(Join(kPatient, PacsOptions(pacs.Port(), work, "WRONGAET")), {"--direct", sources.pdf}));
  EXPECT_EQ(sent.exitCode, 1);
  EXPECT_EQ(LineAfter(sent.errors, "ERROR Sending Images, please check Log file"),
            "The PACS at 127.0.0.1:" + pacs.Port() + " is not called WRONGAET");
  EXPECT_EQ(LineAfter(sent.errors, "1 of 1 items were not sent: letter.pdf"), rejected)
      << sent.errors;
}

// A new user's batch against Orthanc: a photo, a DOCX, a PDF and videos in H.264 and HEVC. Each
// object is proposed in its own encoding beside Implicit VR Little Endian in another context, so
// Orthanc keeps the photo as JPEG and the videos in their own syntaxes instead of choosing
// Implicit for all of them.
TEST(NetworkVerbs, OrthancReceivesEveryKindInItsOwnEncoding) {
  ASSERT_TRUE(testsupport::OrthancPacs::Available() && HavePeers()) << "Orthanc or ffmpeg missing";
  TempDir work;
  testsupport::OrthancPacs pacs(work);
  ASSERT_TRUE(pacs.Running()) << testsupport::ReadFile(work / "orthanc.log");
  const Sources sources = MakeSources(work);
  const std::string docx = (work / "report.docx").string();
  const char* makeDocx =
      "import sys, zipfile\n"
      "z = zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED)\n"
      "z.writestr('[Content_Types].xml', '<Types/>')\n"
      "z.writestr('word/document.xml', '<w:document xmlns:w=\"http://schemas.openxmlformats.org/"
      "wordprocessingml/2006/main\"><w:body><w:p><w:r><w:t>Knee report</w:t></w:r></w:p>"
      "</w:body></w:document>')\n"
      "z.close()\n";
  ASSERT_EQ(RunCommand({"/usr/bin/python3", "-c", makeDocx, docx}).exitCode, 0);
  std::vector<std::string> files = {sources.jpeg, docx, sources.pdf, sources.video};
  std::vector<std::string> expected = {
      "1.2.840.10008.5.1.4.1.1.104.1 1.2.840.10008.1.2.1",
      "1.2.840.10008.5.1.4.1.1.7 1.2.840.10008.1.2.4.50",
      "1.2.840.10008.5.1.4.1.1.77.1.1.1 1.2.840.10008.1.2.4.102",
      "1.2.840.10008.5.1.4.1.1.88.11 1.2.840.10008.1.2.1",
  };
  // Phones record HEVC; it travels as HEVC Main, not as H.264.
  const std::string hevc = (work / "phone.mp4").string();
  if (RunCommand({"ffmpeg", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                  "testsrc=size=64x48:rate=5", "-t", "1", "-pix_fmt", "yuv420p", "-c:v", "libx265",
                  "-x265-params", "log-level=none", "-tag:v", "hvc1", hevc})
          .exitCode == 0) {
    files.push_back(hevc);
    expected.push_back("1.2.840.10008.5.1.4.1.1.77.1.1.1 1.2.840.10008.1.2.4.107");
    std::sort(expected.begin(), expected.end());
  }
  const CommandResult sent =
      Cli("send", Join(Join(kPatient, PacsOptions(pacs.Port(), work, "ORTHANC")), files));
  EXPECT_EQ(sent.exitCode, 0) << sent.errors << testsupport::ReadFile(work / "velloran.log");
  EXPECT_EQ(sent.output, "Images sent OK\n");
  EXPECT_EQ(StoredEncodings(pacs), expected);
}

// A phone photo held upright (stored sideways, Exif orientation 6) arrives upright in Orthanc, as
// Orthanc's own rendering shows, with the moment it was taken; sent again with the setting to keep
// camera JPEGs (this time needing no turning), Orthanc holds the phone's picture byte for byte.
TEST(NetworkVerbs, APhonePhotoArrivesUprightWithItsMomentAndAKeptStreamAsItWas) {
  ASSERT_TRUE(testsupport::OrthancPacs::Available()) << "Orthanc missing (scripts/setup.sh)";
  TempDir work;
  testsupport::OrthancPacs pacs(work);
  ASSERT_TRUE(pacs.Running()) << testsupport::ReadFile(work / "orthanc.log");
  testpictures::ExifFields exif;
  exif.orientation = 6;
  exif.dateTimeOriginal = "2023:07:14 16:05:09";
  exif.offsetTimeOriginal = "+02:00";
  exif.gps = true;
  const std::string stored = testpictures::MakeJpeg(160, 120, false);
  const std::string sideways = (work / "sideways.jpg").string();
  WriteFile(sideways, testpictures::WithExif(stored, exif));
  exif.orientation = 1;
  const std::string upright = testpictures::WithExif(stored, exif);
  const std::string kept = (work / "upright.jpg").string();
  WriteFile(kept, upright);
  const std::vector<std::string> pacsOptions = PacsOptions(pacs.Port(), work, "ORTHANC");
  for (const auto& [accession, file, keep] :
       {std::tuple{"A1", sideways, false}, std::tuple{"A2", kept, true}}) {
    std::vector<std::string> args = Join(kPatient, pacsOptions);
    args.insert(args.end(), {"--accession", accession});
    if (keep) args.push_back("--keep-camera-jpegs");
    args.push_back(file);
    const CommandResult sent = Cli("send", args);
    ASSERT_EQ(sent.exitCode, 0) << sent.errors << testsupport::ReadFile(work / "velloran.log");
  }

  // For each stored instance: its accession, acquisition moment, rows and columns; beside them
  // Orthanc's rendering as PNG and the stored frame's bytes.
  const char* script =
      "import json, sys, urllib.request as web\n"
      "base = 'http://127.0.0.1:' + sys.argv[1]\n"
      "get = lambda path: web.urlopen(base + path).read()\n"
      "for i in json.loads(get('/instances')):\n"
      "    t = json.loads(get('/instances/' + i + '/simplified-tags'))\n"
      "    name = sys.argv[2] + '/' + t['AccessionNumber']\n"
      "    open(name + '.png', 'wb').write(get('/instances/' + i + '/preview'))\n"
      "    open(name + '.frame', 'wb').write(get('/instances/' + i + '/frames/0/raw'))\n"
      "    print(t['AccessionNumber'], t.get('AcquisitionDateTime'), t['Rows'], t['Columns'])\n";
  const CommandResult listed = RunCommand(
      {"/usr/bin/python3", "-c", script, std::to_string(pacs.HttpPort()), work.path().string()});
  ASSERT_EQ(listed.exitCode, 0) << listed.errors;
  std::vector<std::string> lines;
  std::istringstream text(listed.output);
  for (std::string line; std::getline(text, line);) lines.push_back(line);
  std::sort(lines.begin(), lines.end());
  EXPECT_EQ(lines, (std::vector<std::string>{"A1 20230714160509+0200 160 120",
                                             "A2 20230714160509+0200 120 160"}));

  // Orthanc's rendering of the sideways photo, 120 wide and 160 high, shows the stored picture
  // turned a quarter clockwise: its bottom left quadrant top left, and so on.
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  const std::string png = testsupport::ReadFile(work / "A1.png");
  ASSERT_NE(png_image_begin_read_from_memory(&image, png.data(), png.size()), 0) << png.size();
  image.format = PNG_FORMAT_RGB;
  std::vector<uint8_t> rgb(PNG_IMAGE_SIZE(image));
  ASSERT_NE(png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr), 0);
  ASSERT_EQ(image.width, 120u);
  ASSERT_EQ(image.height, 160u);
  for (uint32_t y = 0; y < 160; y += 8) {
    for (uint32_t x = 0; x < 120; x += 8) {
      // The source pixel this one shows once turned: x runs down the source's left edge upwards.
      const testpictures::Colour want = testpictures::QuadrantColour(y, 119 - x, 160, 120);
      const uint8_t* got = &rgb[(size_t{y} * 120 + x) * 3];
      // Away from the quadrant borders, where JPEG smears the colours.
      if (std::abs(int(y) - 80) < 12 || std::abs(int(x) - 60) < 12) continue;
      EXPECT_LT(std::abs(got[0] - want.r) + std::abs(got[1] - want.g) + std::abs(got[2] - want.b),
                48)
          << x << "," << y;
    }
  }
  // The kept photo's frame is the phone's picture byte for byte, without the Exif segment that
  // holds where it was taken (one zero byte evens an odd length).
  const std::string frame = testsupport::ReadFile(work / "A2.frame");
  ASSERT_EQ(frame.size(), stored.size() + stored.size() % 2);
  EXPECT_TRUE(frame.substr(0, stored.size()) == stored);
}

}  // namespace

namespace {

// Storage commitment with Orthanc: it answers the N-ACTION, then opens an association to our AE
// title (known to it as a modality at the commitment port) and reports every stored object as
// committed, for store and for send.
TEST(NetworkVerbs, StoreWithCommitmentIsConfirmedByOrthanc) {
  ASSERT_TRUE(testsupport::OrthancPacs::Available()) << "Orthanc missing (scripts/setup.sh)";
  TempDir work;
  const std::vector<std::string> files = SavedPhotoAndPdf(work);
  ASSERT_EQ(files.size(), 2u);
  const int callbackPort = testsupport::FreePort();
  testsupport::OrthancPacs pacs(
      work, testsupport::OrthancPacs::Options::ReportingTo("VELLORAN", callbackPort));
  ASSERT_TRUE(pacs.Running()) << testsupport::ReadFile(work / "orthanc.log");
  const std::vector<std::string> commit = {
      "--aet",         "VELLORAN", "--commit", "--commit-port", std::to_string(callbackPort),
      "--commit-wait", "60"};

  const CommandResult stored =
      Cli("store", Join(Join(PacsOptions(pacs.Port(), work, "ORTHANC"), commit), files));
  EXPECT_EQ(stored.exitCode, 0) << stored.errors << testsupport::ReadFile(work / "velloran.log");
  for (const std::string& path : files) {
    DicomFile file;
    std::string error;
    ASSERT_TRUE(ReadDicomFile(path, file, error)) << error;
    const std::string line = "committed " + file.meta.GetString(0x0002, 0x0003) + "\n";
    EXPECT_NE(stored.output.find(line), std::string::npos) << stored.output;
  }
  EXPECT_NE(stored.output.find("2 of 2 objects committed by the PACS"), std::string::npos)
      << stored.output;

  // send --commit, through the outbox and directly: the converted objects are stored and
  // committed the same way; through the outbox they leave it only once committed.
  const std::string outbox = (work / "outbox").string();
  for (const std::vector<std::string>& way :
       {std::vector<std::string>{"--outbox", outbox}, {"--direct"}}) {
    SCOPED_TRACE(way[0]);
    const CommandResult sent =
        Cli("send",
            Join(Join(Join(Join(kPatient, way), PacsOptions(pacs.Port(), work, "ORTHANC")), commit),
                 {(work / "letter.pdf").string()}));
    EXPECT_EQ(sent.exitCode, 0) << sent.errors;
    EXPECT_EQ(sent.output.substr(0, sent.output.find('\n')), "Images sent OK");
    EXPECT_NE(sent.output.find("\ncommitted "), std::string::npos) << sent.output;
    EXPECT_NE(sent.output.find("1 of 1 objects committed by the PACS"), std::string::npos)
        << sent.output;
  }
  EXPECT_EQ(Cli("outbox", {"list", "--outbox", outbox}).output, "");
  // A queued send stores nothing, so it cannot ask for commitment itself.
  const CommandResult queued =
      Cli("send", Join(Join(Join(Join(kPatient, PacsOptions(pacs.Port(), work, "ORTHANC")), commit),
                            {"--queue"}),
                       {(work / "letter.pdf").string()}));
  EXPECT_EQ(queued.exitCode, 2) << queued.errors;
}

}  // namespace
