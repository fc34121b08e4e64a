// A large object of a Send is written into the outbox while it is sent: the PACS gets the same
// bytes, but its last ones only once the object is safely in the outbox, so a write that fails
// leaves the PACS without the object; a cancel meanwhile never leaves the batch waiting.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "bufdata.h"
#include "dimse.h"
#include "outbox_testing.h"
#include "scripted_peer.h"
#include "sendoutbox.h"
#include "testpictures.h"
#include "testsupport.h"

namespace {

namespace fs = std::filesystem;
using outboxtesting::OpenedOutbox;
using outboxtesting::PrepareRoeBatch;
using testpeer::Bytes;
using testpeer::Step;
using testsupport::TempDir;

constexpr const char* kJpegBaseline = "1.2.840.10008.1.2.4.50";
// What a small H.264 High clip is labelled with.
constexpr const char* kVideoSyntax = "1.2.840.10008.1.2.4.102";

PacsTarget ScriptedPacs(const testpeer::ScriptedPeer& peer) {
  PacsTarget target;
  target.node.callingAet = "VELLORAN";
  target.node.calledAet = "PEER";
  target.node.host = "127.0.0.1";
  target.node.port = peer.Port();
  return target;
}

// A real one-second clip followed by a 'free' box that brings the file to `size` bytes: an MP4
// whose bytes all travel in the object.
std::string LargeClip(const TempDir& dir, uint32_t size) {
  const std::string clip = (dir / "short.mp4").string();
  EXPECT_EQ(
      testsupport::RunCommand({"ffmpeg", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                               "testsrc=size=64x48:rate=5", "-t", "1", "-pix_fmt", "yuv420p", clip})
          .exitCode,
      0);
  std::string bytes = testsupport::ReadFile(clip);
  const uint32_t free = size - static_cast<uint32_t>(bytes.size());
  const char box[8] = {static_cast<char>(free >> 24),
                       static_cast<char>(free >> 16),
                       static_cast<char>(free >> 8),
                       static_cast<char>(free),
                       'f',
                       'r',
                       'e',
                       'e'};
  bytes.append(box, sizeof box);
  bytes.resize(size, '\x5A');
  const std::string path = (dir / "large.mp4").string();
  testsupport::WriteFile(path, bytes);
  return path;
}

// The data set bytes of the message received after the command of the request: the P-DATA-TF
// items that are not command fragments, in order, and how many of them closed a message.
Bytes DataSetReceived(const std::vector<Bytes>& pdus, size_t& lastFragments) {
  Bytes sent;
  lastFragments = 0;
  for (const Bytes& pdu : pdus) {
    if (pdu[0] != 0x04 || pdu.size() <= 12 || (pdu[11] & 0x01) != 0) continue;
    lastFragments += pdu[11] == 0x02 ? 1 : 0;
    sent.insert(sent.end(), pdu.begin() + 12, pdu.end());
  }
  return sent;
}

bool SkipWithoutFfmpeg() {
  return !testsupport::HaveProgram("ffmpeg");
}

// The video goes out on the association opened for it while it is written; the photo after it,
// of another kind, on its own association once the batch is converted. The PACS gets the clip's
// bytes whole and the outbox is empty afterwards.
TEST(OutboxLargeObject, AVideoIsSentWhileItIsWrittenAndArrivesWhole) {
  ASSERT_FALSE(SkipWithoutFfmpeg()) << "ffmpeg missing (scripts/setup.sh installs it)";
  TempDir dir;
  const std::string clip = LargeClip(dir, 20u << 20);
  const std::string photo = (dir / "b.jpg").string();
  testsupport::WriteFile(photo, testpictures::MakeJpeg(16, 8, false));
  const std::vector<std::string> items = {clip, photo};
  ASSERT_TRUE(PrepareRoeBatch(items.size()));
  const Bytes stored = testpeer::PData(1, {{0x03, testpeer::ResponseCommand(kCommandStoreRSP, 0)}});
  auto association = [&](const char* syntax) {
    return std::vector<Step>{Step::ReceivePdu(),
                             Step::Send(testpeer::AssociateAC({{1, 0, syntax}})),
                             Step::ReceivePdu(),
                             Step::ReceiveMessage(),
                             Step::Send(stored),
                             Step::ReceivePdu(),
                             Step::Send(testpeer::ReleaseRP()),
                             Step::ExpectClose()};
  };
  testpeer::ScriptedPeer peer({association(kVideoSyntax), association(kJpegBaseline)});
  Outbox outbox = OpenedOutbox(dir);
  const OutboxSendResult result =
      SendPreparedThroughOutbox(items, outbox, ScriptedPacs(peer), OutboxSendMode::QueueAndDeliver);
  ASSERT_TRUE(peer.Finish()) << peer.Problem();
  EXPECT_TRUE(result.success) << result.message;
  EXPECT_EQ(result.deliveredItems, (std::vector<size_t>{0, 1}));
  EXPECT_TRUE(outbox.Entries().empty());

  // The first association's data set holds the clip as its one fragment.
  std::vector<Bytes> first = peer.Received();
  const auto release = std::find(first.begin(), first.end(), testpeer::ReleaseRQ());
  ASSERT_NE(release, first.end());
  first.erase(release, first.end());
  size_t lastFragments = 0;
  const Bytes sent = DataSetReceived(first, lastFragments);
  EXPECT_EQ(lastFragments, 1u);
  DcmObj dataSet;
  dataSet.SetTransferSyntax(kVideoSyntax);
  BufData reader(false);
  reader.stream = sent;
  ASSERT_TRUE(reader.ReadDataSet(dataSet));
  EXPECT_EQ(reader.shortReads, 0u);
  const long pixels = dataSet.FindIndex(0x7FE0, 0x0010);
  ASSERT_GE(pixels, 0);
  const DcmTag* fragment = dataSet.TagAt(static_cast<size_t>(pixels) + 2);
  ASSERT_NE(fragment, nullptr);
  EXPECT_TRUE(fragment->Bytes() == testsupport::ReadFile(clip));
}

// The clip is cut short while it is being written and sent: the outbox refuses it, the PACS never
// gets its last bytes (the association is aborted), nothing of it stays in the outbox, and the
// user learns why.
TEST(OutboxLargeObject, AVideoThatCannotBeWrittenNeverReachesThePacs) {
  ASSERT_FALSE(SkipWithoutFfmpeg()) << "ffmpeg missing (scripts/setup.sh installs it)";
  TempDir dir;
  const std::string clip = LargeClip(dir, 32u << 20);
  ASSERT_TRUE(PrepareRoeBatch(1));
  // The PACS stops reading after the first data PDU, so the writing waits on the connection
  // while the test cuts the clip.
  testpeer::ScriptedPeer peer(
      {Step::ReceivePdu(), Step::Send(testpeer::AssociateAC({{1, 0, kVideoSyntax}})),
       Step::ReceivePdu(), Step::ReceivePdu(), Step::Pause(std::chrono::milliseconds(1500)),
       Step::ReceiveUntilClose()});
  Outbox outbox = OpenedOutbox(dir);
  auto sending = std::async(std::launch::async, [&] {
    return SendPreparedThroughOutbox({clip}, outbox, ScriptedPacs(peer),
                                     OutboxSendMode::QueueAndDeliver);
  });
  // Once the outbox copy is under way, the clip loses its second half.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  bool writing = false;
  while (!writing && std::chrono::steady_clock::now() < deadline) {
    for (const fs::directory_entry& entry : fs::directory_iterator(outbox.Folder())) {
      if (entry.path().extension() == ".part" && entry.file_size() > (1u << 20)) writing = true;
    }
    if (!writing) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_TRUE(writing) << "the outbox copy was not started";
  fs::resize_file(clip, 16u << 20);
  const OutboxSendResult result = sending.get();
  ASSERT_TRUE(peer.Finish()) << peer.Problem();

  EXPECT_FALSE(result.success);
  EXPECT_TRUE(result.queuedItems.empty());
  const std::string message = result.message.English();
  EXPECT_EQ(message.rfind(kSendFailedMessage.English(), 0), 0u) << message;
  EXPECT_NE(message.find("its data could not be read from " + clip), std::string::npos) << message;
  EXPECT_TRUE(outbox.Entries().empty());
  for (const fs::directory_entry& entry : fs::directory_iterator(outbox.Folder())) {
    EXPECT_NE(entry.path().extension(), ".dcm") << entry.path();
    EXPECT_NE(entry.path().extension(), ".part") << entry.path();
  }
  size_t lastFragments = 0;
  DataSetReceived(peer.Received(), lastFragments);
  EXPECT_EQ(lastFragments, 0u);
}

// A cancel as the first object is delivered: the video after it is either not converted or put in
// the outbox whole, waiting, without being sent; the Send ends either way.
TEST(OutboxLargeObject, ACancelWhileAVideoIsOnItsWayLeavesItWaitingInTheOutbox) {
  ASSERT_FALSE(SkipWithoutFfmpeg()) << "ffmpeg missing (scripts/setup.sh installs it)";
  TempDir dir;
  const std::string photo = (dir / "a.jpg").string();
  testsupport::WriteFile(photo, testpictures::MakeJpeg(16, 8, false));
  const std::string clip = LargeClip(dir, 20u << 20);
  ASSERT_TRUE(PrepareRoeBatch(2));
  testpeer::ScriptedPeer peer(
      {Step::ReceivePdu(), Step::Send(testpeer::AssociateAC({{1, 0, kJpegBaseline}})),
       Step::ReceivePdu(), Step::ReceivePdu(),
       Step::Send(testpeer::PData(1, {{0x03, testpeer::ResponseCommand(kCommandStoreRSP, 0)}})),
       Step::ReceivePdu(), Step::Send(testpeer::ReleaseRP()), Step::ExpectClose()});
  Outbox outbox = OpenedOutbox(dir);
  std::stop_source stop;
  OutboxSendProgress progress;
  progress.delivered = [&](const DeliveredObject&, size_t, size_t) { stop.request_stop(); };
  const OutboxSendResult result =
      SendPreparedThroughOutbox({photo, clip}, outbox, ScriptedPacs(peer),
                                OutboxSendMode::QueueAndDeliver, progress, stop.get_token());
  ASSERT_TRUE(peer.Finish()) << peer.Problem();
  EXPECT_FALSE(result.success);
  EXPECT_EQ(result.deliveredItems, std::vector<size_t>{0});
  const std::vector<OutboxEntry> left = outbox.Entries();
  if (result.queuedItems.size() == 2) {
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].state, OutboxState::Waiting);
    EXPECT_EQ(left[0].source, clip);
    EXPECT_GT(fs::file_size(outbox.PathOf(left[0])), 20u << 20);
  } else {
    EXPECT_EQ(result.queuedItems, std::vector<size_t>{0});
    EXPECT_TRUE(left.empty());
  }
}

}  // namespace
