// The outbox on a disk that fills up: it still opens, lists and delivers (which frees the space),
// and a Send that runs out of room says exactly how many items went in.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <sstream>

#include "dcmtk_peer.h"
#include "dimse.h"
#include "outbox_testing.h"
#include "scripted_peer.h"
#include "sendoutbox.h"
#include "testsupport.h"

namespace {

namespace fs = std::filesystem;
using testpeer::Step;
using testsupport::TempDir;

bool WriteText(const std::string& path, const std::string& text) {
  std::ofstream file(path);
  file << text;
  return static_cast<bool>(file);
}

// Mounts a tmpfs of `kilobytes` on `folder` in a mount namespace of its own: as root directly,
// otherwise as root of a user namespace.
bool MountSmallDisk(const fs::path& folder, int kilobytes) {
  const uid_t uid = ::getuid();
  const gid_t gid = ::getgid();
  if (::unshare(uid == 0 ? CLONE_NEWNS : CLONE_NEWUSER | CLONE_NEWNS) != 0) return false;
  if (uid != 0 && (!WriteText("/proc/self/setgroups", "deny") ||
                   !WriteText("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
                   !WriteText("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1"))) {
    return false;
  }
  // Nothing done here reaches the mounts of the rest of the system.
  ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr);
  const std::string options = "size=" + std::to_string(kilobytes) + "k";
  return ::mount("tmpfs", folder.c_str(), "tmpfs", 0, options.c_str()) == 0;
}

// Runs `scenario` in a child process whose `folder` is a disk of `kilobytes`; the child writes
// what went wrong (nothing when all went as expected) to a pipe. Empty, or the problems; the
// system's refusal to make such a disk is reported as such.
std::string OnSmallDisk(const fs::path& folder, int kilobytes,
                        const std::function<std::string()>& scenario) {
  int ends[2];
  if (::pipe(ends) != 0) return "no pipe";
  const pid_t child = ::fork();
  if (child < 0) return "no fork";
  if (child == 0) {
    ::close(ends[0]);
    const std::string problems =
        MountSmallDisk(folder, kilobytes) ? scenario() : "cannot mount a small disk here";
    const ssize_t ignored = ::write(ends[1], problems.data(), problems.size());
    (void)ignored;
    ::_exit(0);
  }
  ::close(ends[1]);
  std::string problems;
  char buffer[4096];
  ssize_t got = 0;
  while ((got = ::read(ends[0], buffer, sizeof buffer)) > 0) problems.append(buffer, got);
  ::close(ends[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) problems += "\nthe child crashed";
  return problems;
}

// Collects what did not hold, as gtest would say it, for the parent to report.
class Checks {
 public:
  void Expect(bool holds, const std::string& what) {
    if (!holds) problems_ << what << "\n";
  }
  std::string Problems() const { return problems_.str(); }

 private:
  std::ostringstream problems_;
};

// Fills the rest of the disk, so that not even a small journal can be written anew.
void FillUp(const fs::path& folder) {
  const int fd = ::open((folder / "filler").c_str(), O_WRONLY | O_CREAT, 0600);
  const std::string block(4096, 'x');
  while (::write(fd, block.data(), block.size()) > 0) {
  }
  ::close(fd);
}

// Objects queued until the disk is full: the failure says so, the outbox still opens although its
// journal cannot be written anew, lists what it holds, and delivers it all, which frees the disk.
TEST(OutboxDisk, AFullDiskStillListsAndDelivers) {
  TempDir dir;
  const fs::path disk = dir / "disk";
  fs::create_directories(disk);
  const std::string problems = OnSmallDisk(disk, 512, [&] {
    Checks check;
    const fs::path folder = disk / "outbox";
    Outbox outbox(folder);
    std::string error;
    check.Expect(outbox.Open(error), "the outbox did not open: " + error);
    size_t queued = 0;
    for (int n = 1; n < 100; ++n) {
      const std::string uid = "1.2.826.0.1.3680043.10.46" + std::to_string(n);
      if (!outbox.Add(*dcmtkpeer::NativeImage(uid, 256, 256), {"B"}, error)) break;
      ++queued;
    }
    check.Expect(queued > 0 && queued < 99, "queued " + std::to_string(queued));
    check.Expect(error.find("the disk is full") != std::string::npos, "the error: " + error);
    FillUp(folder);

    Outbox reopened(folder);
    check.Expect(reopened.Open(error), "a full disk stopped the outbox from opening: " + error);
    check.Expect(!fs::exists(folder / "journal.new"), "a journal.new was left behind");
    check.Expect(
        reopened.Entries().size() == queued,
        "listed " + std::to_string(reopened.Entries().size()) + " of " + std::to_string(queued));
    std::vector<Step> steps = {
        Step::ReceivePdu(), Step::Send(testpeer::AssociateAC({{1, 0, kExplicitVRLittleEndian}}))};
    for (size_t n = 0; n < queued; ++n) {
      steps.insert(steps.end(),
                   {Step::ReceivePdu(), Step::ReceiveMessage(),
                    Step::Send(testpeer::PData(
                        1, {{0x03, testpeer::ResponseCommand(kCommandStoreRSP, 0)}}))});
    }
    steps.insert(steps.end(),
                 {Step::ReceivePdu(), Step::Send(testpeer::ReleaseRP()), Step::ExpectClose()});
    testpeer::ScriptedPeer peer(steps);
    PacsTarget target;
    target.node = RemoteNode{"VELLORAN", "PEER", "127.0.0.1", peer.Port()};
    const DeliveryReport report = DeliverOutbox(reopened, target);
    check.Expect(peer.Finish(), "the peer: " + peer.Problem());
    check.Expect(report.delivered == queued, "delivered " + std::to_string(report.delivered));
    check.Expect(reopened.Entries().empty(), "objects left after the delivery");
    Outbox afterwards(folder);
    check.Expect(afterwards.Open(error) && afterwards.Entries().empty(),
                 "delivered objects came back: " + error);
    return check.Problems();
  });
  EXPECT_EQ(problems, "");
}

// A Send whose outbox fills up part-way: the items whose objects went in leave the list, the
// others stay and are named, and the numbers in the message are the numbers in the outbox.
TEST(OutboxDisk, ASendThatFillsTheDiskCountsExactlyWhatWentIn) {
  TempDir dir;
  const fs::path disk = dir / "disk";
  fs::create_directories(disk);
  std::vector<std::string> items;
  // Documents of 40 KB each, of which a disk of 128 KB takes two or three.
  for (int n = 1; n <= 6; ++n) {
    items.push_back((dir / ("letter" + std::to_string(n) + ".pdf")).string());
    testsupport::WriteFile(
        items.back(), "%PDF-1.4\n%" + std::string(40000, static_cast<char>('a' + n)) + "\n%%EOF\n");
  }
  const std::string problems = OnSmallDisk(disk, 128, [&] {
    Checks check;
    Outbox outbox(disk / "outbox");
    std::string error;
    check.Expect(outbox.Open(error), "the outbox did not open: " + error);
    check.Expect(static_cast<bool>(outboxtesting::PrepareRoeBatch(items.size())), "no batch");
    PacsTarget down;
    down.node =
        RemoteNode{"VELLORAN", "PEER", "127.0.0.1", std::to_string(testsupport::FreePort())};
    const OutboxSendResult result =
        SendPreparedThroughOutbox(items, outbox, down, OutboxSendMode::QueueAndDeliver);
    const size_t inOutbox = outbox.Entries().size();
    check.Expect(!result.success, "the Send succeeded");
    check.Expect(inOutbox > 0 && inOutbox < items.size(),
                 std::to_string(inOutbox) + " objects in the outbox");
    check.Expect(result.queuedObjects == inOutbox && result.queuedItems.size() == inOutbox,
                 "queued " + std::to_string(result.queuedObjects) + " objects of " +
                     std::to_string(result.queuedItems.size()) + " items, the outbox holds " +
                     std::to_string(inOutbox));
    const std::string notSent = std::to_string(items.size() - inOutbox) + " of " +
                                std::to_string(items.size()) + " items were not sent";
    const std::string message = result.message.English();
    check.Expect(message.find("the disk is full") != std::string::npos &&
                     message.find(notSent) != std::string::npos &&
                     message.find("The PACS did not answer: " + std::to_string(inOutbox) +
                                  " object") != std::string::npos,
                 "the message: " + message);
    return check.Problems();
  });
  EXPECT_EQ(problems, "");
}

}  // namespace
