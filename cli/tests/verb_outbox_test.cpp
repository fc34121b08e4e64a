// velloran-cli send through the outbox killed at several moments of a 200-object batch (objects go
// out while later ones are still converted), then the outbox retried: every object queued arrives
// and the journal agrees with the folder throughout.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <set>
#include <sstream>
#include <thread>

#include "dcmtk_peer.h"
#include "dicomfile.h"
#include "testpictures.h"
#include "testsupport.h"

namespace {

namespace fs = std::filesystem;
using testsupport::CommandResult;
using testsupport::RunCommand;
using testsupport::TempDir;

constexpr size_t kObjects = 200;

size_t CountFiles(const fs::path& folder, const std::string& suffix) {
  size_t count = 0;
  std::error_code error;
  for (const fs::directory_entry& item : fs::directory_iterator(folder, error)) {
    if (item.path().filename().string().ends_with(suffix)) ++count;
  }
  return count;
}

// Objects queued so far: each is recorded as waiting once (delivered ones are gone from the
// folder).
size_t QueuedCount(const fs::path& outbox) {
  const std::string journal = testsupport::ReadFile(outbox / "journal");
  size_t count = 0;
  for (size_t at = journal.find("\twaiting\t"); at != std::string::npos;
       at = journal.find("\twaiting\t", at + 1)) {
    ++count;
  }
  return count;
}

std::set<std::string> ReceivedInstances(const dcmtkpeer::StoreSCP& peer) {
  std::set<std::string> uids;
  for (const fs::path& path : peer.Received()) {
    DicomFile file;
    std::string error;
    if (ReadDicomFile(path.string(), file, error)) {
      uids.insert(file.dataSet.GetString(0x0008, 0x0018));
    }
  }
  return uids;
}

// `outbox list`: the SOP Instance UIDs by state, checked against the files in the folder.
std::set<std::string> ListedAndConsistent(const fs::path& outbox) {
  const CommandResult listed = RunCommand({VELLORAN_CLI, "outbox", "list", "--outbox", outbox});
  EXPECT_EQ(listed.exitCode, 0) << listed.errors;
  std::set<std::string> uids;
  std::istringstream lines(listed.output);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string state, attempts, uid;
    fields >> state >> attempts >> uid;
    EXPECT_EQ(state, "waiting") << line;
    EXPECT_TRUE(fs::exists(outbox / (uid + ".dcm"))) << "a record without its file: " << line;
    uids.insert(uid);
  }
  EXPECT_EQ(CountFiles(outbox, ".dcm"), uids.size()) << "files without a record";
  EXPECT_EQ(CountFiles(outbox, ".part"), 0u);
  return uids;
}

TEST(OutboxVerbs, QueueWaitRetryAndRemove) {
  ASSERT_TRUE(testsupport::HaveProgram("storescp"))
      << "storescp missing (scripts/setup.sh installs it)";
  TempDir work;
  const fs::path outbox = work / "outbox";
  const std::vector<std::string> common = {"--log",      (work / "velloran.log").string(),
                                           "--ini",      (work / "none.ini").string(),
                                           "--pacs-aet", "STORESCP",
                                           "--outbox",   outbox.string()};
  auto cli = [&](std::vector<std::string> args, const std::vector<std::string>& more = {}) {
    args.insert(args.begin(), VELLORAN_CLI);
    args.insert(args.end(), common.begin(), common.end());
    args.insert(args.end(), more.begin(), more.end());
    return RunCommand(args);
  };
  std::vector<std::string> files;
  for (const char* name : {"a.png", "b.png", "c.png"}) {
    files.push_back((work / name).string());
    testsupport::WriteFile(files.back(), testpictures::MakePng(16, 8, testpictures::PngKind::Rgb));
  }
  const std::string nobody = std::to_string(testsupport::FreePort());
  const std::vector<std::string> patient = {"--patient-name", "Roe^Rick", "--patient-id", "P24"};

  std::vector<std::string> queue = {"send", "--queue", "--pacs-port", nobody};
  queue.insert(queue.end(), patient.begin(), patient.end());
  CommandResult result = cli(queue, {files[0], files[1]});
  EXPECT_EQ(result.exitCode, 0) << result.errors;
  EXPECT_EQ(result.output, "2 objects queued in the outbox\n");

  std::vector<std::string> send = {"send", "--pacs-port", nobody};
  send.insert(send.end(), patient.begin(), patient.end());
  result = cli(send, {files[2]});
  EXPECT_EQ(result.exitCode, 3);
  EXPECT_EQ(result.errors.rfind("The PACS did not answer: 3 objects wait in the outbox and will be "
                                "sent when it answers\n",
                                0),
            0u)
      << result.errors;
  const std::set<std::string> waiting = ListedAndConsistent(outbox);
  ASSERT_EQ(waiting.size(), 3u);

  result = cli({"outbox", "remove", *waiting.begin()});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.output, "1 removed\n");
  result = cli({"outbox", "remove", *waiting.begin()});
  EXPECT_EQ(result.exitCode, 1);

  // Each line names the file the object was made from and the PACS it waits for.
  result = cli({"outbox", "list"});
  const std::string meantFor = "STORESCP at 127.0.0.1:" + nobody;
  EXPECT_NE(result.output.find("\tc.png\t" + meantFor + "\n"), std::string::npos) << result.output;

  // Another PACS is given: the objects keep waiting for theirs and none goes there, until
  // --to-current sends them to it.
  dcmtkpeer::StoreSCP peer(work / "scp", {"1.2.840.10008.5.1.4.1.1.7"},
                           {"1.2.840.10008.1.2.4.50", "1.2.840.10008.1.2"});
  ASSERT_TRUE(peer.Running());
  const std::string current = "STORESCP at 127.0.0.1:" + peer.Port();
  result = cli({"outbox", "retry", "--pacs-port", peer.Port()});
  EXPECT_EQ(result.exitCode, 3) << result.errors;
  EXPECT_EQ(result.output, "0 delivered, 0 failed, 2 waiting\n");
  EXPECT_NE(result.errors.find("2 waiting for " + meantFor + " (--to-current sends them to " +
                               current + ")\n"),
            std::string::npos)
      << result.errors;
  EXPECT_TRUE(ReceivedInstances(peer).empty());
  EXPECT_EQ(ListedAndConsistent(outbox).size(), 2u);
  result = cli({"outbox", "retry", "--to-current", "--pacs-port", peer.Port()});
  EXPECT_EQ(result.exitCode, 0) << result.errors;
  EXPECT_EQ(result.output, "2 objects waiting for another PACS now go to " + current +
                               "\n2 delivered, 0 failed, 0 waiting\n");
  EXPECT_TRUE(ListedAndConsistent(outbox).empty());
  EXPECT_EQ(ReceivedInstances(peer).size(), 2u);
  EXPECT_EQ(ReceivedInstances(peer).count(*waiting.begin()), 0u);
}

TEST(OutboxVerbs, SendKilledAtAnyMomentLosesNothing) {
  ASSERT_TRUE(testsupport::HaveProgram("storescp"))
      << "storescp missing (scripts/setup.sh installs it)";
  TempDir work;
  std::vector<std::string> send = {VELLORAN_CLI,     "send",
                                   "--patient-name", "Roe^Rick",
                                   "--patient-id",   "PID24",
                                   "--log",          (work / "velloran.log").string(),
                                   "--ini",          (work / "none.ini").string(),
                                   "--pacs-aet",     "STORESCP"};
  std::vector<std::string> items;
  for (size_t i = 0; i < kObjects; ++i) {
    items.push_back((work / ("p" + std::to_string(i) + ".png")).string());
    testsupport::WriteFile(items.back(), testpictures::MakePng(96, 64, testpictures::PngKind::Rgb));
  }
  // Killed while it converts into the outbox, and while it delivers.
  struct KillPoint {
    const char* name;
    bool delivering;  // counted in objects received, else in objects queued
    size_t after;
  };
  const KillPoint points[] = {{"first object queued", false, 1},
                              {"half the batch queued", false, kObjects / 2},
                              {"a few delivered", true, 5},
                              {"most delivered", true, kObjects - 40}};
  for (const KillPoint& point : points) {
    SCOPED_TRACE(point.name);
    const fs::path outbox = work / (std::string("outbox-") + std::to_string(point.after) +
                                    (point.delivering ? "d" : "q"));
    dcmtkpeer::StoreSCP peer(work / ("scp-" + outbox.filename().string()),
                             {"1.2.840.10008.5.1.4.1.1.7"},
                             {"1.2.840.10008.1.2.4.50", "1.2.840.10008.1.2"});
    ASSERT_TRUE(peer.Running());
    std::vector<std::string> argv = send;
    argv.insert(argv.end(), {"--pacs-port", peer.Port(), "--outbox", outbox.string()});
    argv.insert(argv.end(), items.begin(), items.end());
    testsupport::ChildProcess sender(argv);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    bool reached = false;
    while (sender.Running() && std::chrono::steady_clock::now() < deadline) {
      const size_t count = point.delivering ? peer.Received().size() : QueuedCount(outbox);
      if (count >= point.after) {
        reached = true;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    // Only a process still running is killed: pid() is -1 once it has been reaped.
    if (const pid_t pid = sender.pid(); reached && pid > 0) ::kill(pid, SIGKILL);
    sender.Stop();
    EXPECT_TRUE(reached) << "send ended before the moment it was to be killed";

    const std::set<std::string> waiting = ListedAndConsistent(outbox);
    const CommandResult retried =
        RunCommand({VELLORAN_CLI, "outbox", "retry", "--outbox", outbox.string(), "--pacs-aet",
                    "STORESCP", "--pacs-port", peer.Port(), "--log",
                    (work / "velloran.log").string(), "--ini", (work / "none.ini").string()});
    EXPECT_EQ(retried.exitCode, 0) << retried.output << retried.errors;
    EXPECT_TRUE(ListedAndConsistent(outbox).empty());
    const std::set<std::string> after = ReceivedInstances(peer);
    for (const std::string& uid : waiting) EXPECT_EQ(after.count(uid), 1u) << "lost " << uid;
  }
}

}  // namespace
