// The outbox folder and its journal: what a crash at any moment leaves behind, and reconciling.
#include "outbox.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <random>
#include <set>
#include <sstream>

#include "dicomfile.h"
#include "outboxdelivery.h"
#include "testsupport.h"
#include "uids.h"

namespace {

namespace fs = std::filesystem;

std::unique_ptr<DcmObj> SmallObject(const std::string& instanceUid, size_t padding = 0) {
  auto dataSet = std::make_unique<DcmObj>();
  dataSet->SetTransferSyntax(kExplicitVRLittleEndian);
  dataSet->AddString(0x0008, 0x0016, "1.2.840.10008.5.1.4.1.1.7");
  dataSet->AddString(0x0008, 0x0018, instanceUid);
  dataSet->AddString(0x0010, 0x0010, "Roe^Rick");
  if (padding > 0) dataSet->AddString(0x0010, 0x4000, std::string(padding, 'x'));
  return dataSet;
}

std::string Uid(int n) {
  return "1.2.826.0.1.3680043.10.77." + std::to_string(n);
}

std::set<std::string> InstancesOf(const std::vector<OutboxEntry>& entries) {
  std::set<std::string> uids;
  for (const OutboxEntry& entry : entries) uids.insert(entry.sopInstanceUid);
  return uids;
}

TEST(Outbox, KeepsObjectsAndTheirStateAcrossReopening) {
  testsupport::TempDir dir;
  const fs::path folder = dir / "outbox";
  // Envelopes with every field set, and one of each kind of destination.
  OutboxDestination research;
  research.kind = DestinationKind::Dicom;
  research.callingAet = "VELLORAN";
  research.calledAet = "RESEARCH";
  research.host = "10.0.0.9";
  research.port = "104";
  research.tls = true;
  research.certificateFile = "/etc/velloran/me.pem";
  research.keyFile = "/etc/velloran/me.key";
  research.caFile = "/etc/velloran/ca.pem";
  OutboxDestination web;
  web.kind = DestinationKind::Web;
  web.baseUrl = "https://pacs.example/dicom-web";
  web.auth = WebAuth::Bearer;
  {
    Outbox outbox(folder);
    std::string error;
    ASSERT_TRUE(outbox.Open(error)) << error;
    EXPECT_EQ(fs::status(folder).permissions() & fs::perms::all, fs::perms::owner_all);
    for (int n : {1, 2, 3}) ASSERT_TRUE(outbox.Add(*SmallObject(Uid(n)), {"B1"}, error)) << error;
    ASSERT_TRUE(outbox.Add(*SmallObject(Uid(4)), {"B2", "/work/scan 1.png", research, true}, error))
        << error;
    ASSERT_TRUE(outbox.Add(*SmallObject(Uid(5)), {"B2", "", web, false}, error)) << error;
    ASSERT_TRUE(outbox.MarkFailed(Uid(2) + ".dcm", "status 0xA700 (refused: out of resources)"));
    ASSERT_TRUE(outbox.NoteAttempt(Uid(3) + ".dcm", "The PACS did not answer"));
    ASSERT_TRUE(outbox.MarkDelivered(Uid(1) + ".dcm"));
    EXPECT_FALSE(fs::exists(folder / (Uid(1) + ".dcm")));
  }
  Outbox again(folder);
  std::string error;
  ASSERT_TRUE(again.Open(error)) << error;
  std::vector<OutboxEntry> entries = again.Entries();
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_EQ(entries[2].destination, research);
  EXPECT_TRUE(entries[2].commit);
  EXPECT_EQ(entries[2].source, "/work/scan 1.png");
  EXPECT_EQ(entries[2].patientName, "Roe^Rick");
  EXPECT_GT(entries[2].queuedAt, 0);
  EXPECT_EQ(entries[3].destination, web);
  EXPECT_FALSE(entries[3].commit);
  EXPECT_EQ(again.Remove({Uid(4), Uid(5)}), 2u);
  entries = again.Entries();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].sopInstanceUid, Uid(2));
  EXPECT_EQ(entries[0].state, OutboxState::Failed);
  EXPECT_EQ(entries[0].cause, "status 0xA700 (refused: out of resources)");
  EXPECT_EQ(entries[0].batch, "B1");
  EXPECT_EQ(entries[1].state, OutboxState::Waiting);
  EXPECT_EQ(entries[1].attempts, 1);
  // The object file is a Part 10 file of the object that was queued.
  DicomFile file;
  ASSERT_TRUE(ReadDicomFile(again.PathOf(entries[1]).string(), file, error)) << error;
  EXPECT_EQ(file.dataSet.GetString(0x0008, 0x0018), Uid(3));

  EXPECT_EQ(again.Retry({}), 1u);
  EXPECT_EQ(again.Entries()[0].state, OutboxState::Waiting);
  EXPECT_EQ(again.Remove({Uid(2), "1.2.3.not.there"}), 1u);
  EXPECT_EQ(InstancesOf(again.Entries()), std::set<std::string>{Uid(3)});
  EXPECT_FALSE(fs::exists(folder / (Uid(2) + ".dcm")));
}

// What a crash can leave between the steps, and what opening makes of it.
TEST(Outbox, OpeningReconcilesTheJournalWithTheFiles) {
  testsupport::TempDir dir;
  const fs::path folder = dir / "outbox";
  std::string error;
  {
    Outbox outbox(folder);
    ASSERT_TRUE(outbox.Open(error)) << error;
    for (int n : {1, 2}) ASSERT_TRUE(outbox.Add(*SmallObject(Uid(n)), {"B"}, error)) << error;
  }
  // Object 1's file was deleted for delivery, but its record was not written.
  fs::remove(folder / (Uid(1) + ".dcm"));
  // Object 3 was renamed into place, but its record was not written.
  {
    auto three = SmallObject(Uid(3));
    ASSERT_TRUE(three->SaveToFile((folder / (Uid(3) + ".dcm")).string(), three->GetString(8, 0x16),
                                  Uid(3)));
  }
  // A half-written object of a killed writer, and a journal line cut short, then garbage.
  testsupport::WriteFile(folder / (Uid(4) + ".dcm.999999999.part"), "DICM half");
  {
    std::ofstream journal(folder / "journal", std::ios::app);
    journal << "1\twaiting\t0\tx.dcm\t1.2\t1.2.3\tB\t\t0000dead\n1\tgone\t0\t" << Uid(2);
  }
  Outbox outbox(folder);
  ASSERT_TRUE(outbox.Open(error)) << error;
  const std::vector<OutboxEntry> entries = outbox.Entries();
  EXPECT_EQ(InstancesOf(entries), (std::set<std::string>{Uid(2), Uid(3)}));
  for (const OutboxEntry& entry : entries) {
    EXPECT_EQ(entry.state, OutboxState::Waiting) << entry.file;
    EXPECT_EQ(entry.sopClassUid, "1.2.840.10008.5.1.4.1.1.7") << entry.file;
  }
  EXPECT_FALSE(fs::exists(folder / (Uid(4) + ".dcm.999999999.part")));
  // The journal was rewritten whole: a further record appends to a clean end.
  ASSERT_TRUE(outbox.MarkDelivered(Uid(2) + ".dcm"));
  EXPECT_EQ(InstancesOf(outbox.Entries()), std::set<std::string>{Uid(3)});
}

// Two outboxes on one folder stand for the window and velloran-cli: each call sees what the other
// recorded, also after the other rewrote the journal on opening, and a record appended after a
// line cut short is still read.
TEST(Outbox, EachCallSeesWhatAnotherProcessRecorded) {
  testsupport::TempDir dir;
  const fs::path folder = dir / "outbox";
  Outbox window(folder);
  Outbox cli(folder);
  std::string error;
  ASSERT_TRUE(window.Open(error)) << error;
  ASSERT_TRUE(cli.Open(error)) << error;
  ASSERT_TRUE(window.Add(*SmallObject(Uid(1)), {"B"}, error)) << error;
  EXPECT_EQ(InstancesOf(window.Entries()), std::set<std::string>{Uid(1)});
  ASSERT_TRUE(cli.Add(*SmallObject(Uid(2)), {"B"}, error)) << error;
  ASSERT_TRUE(cli.MarkFailed(Uid(1) + ".dcm", "status 0xA700"));
  // The window updates an entry the other changed: it starts from the other's record.
  ASSERT_TRUE(window.NoteAttempt(Uid(1) + ".dcm", "PACS did not answer"));
  EXPECT_EQ(cli.Entries()[0].state, OutboxState::Failed);
  EXPECT_EQ(cli.Entries()[0].attempts, 2);
  // Opening rewrites the journal under the other's feet.
  Outbox restarted(folder);
  ASSERT_TRUE(restarted.Open(error)) << error;
  ASSERT_TRUE(restarted.MarkDelivered(Uid(2) + ".dcm"));
  EXPECT_EQ(InstancesOf(window.Entries()), std::set<std::string>{Uid(1)});
  EXPECT_FALSE(window.MarkDelivered(Uid(2) + ".dcm"));
  // A writer died in the middle of a line; the next record still counts.
  {
    std::ofstream journal(folder / "journal", std::ios::app);
    journal << "1\twaiting\t0\t" << Uid(9);
  }
  ASSERT_TRUE(cli.Add(*SmallObject(Uid(3)), {"B"}, error)) << error;
  const std::set<std::string> expected = {Uid(1), Uid(3)};
  EXPECT_EQ(InstancesOf(window.Entries()), expected);
  Outbox reopened(folder);
  ASSERT_TRUE(reopened.Open(error)) << error;
  EXPECT_EQ(InstancesOf(reopened.Entries()), expected);
}

// Staged objects are not in the outbox until committed; a commit puts in what it can and says
// what it could not.
TEST(Outbox, StagedObjectsEnterTheOutboxTogetherWhenCommitted) {
  testsupport::TempDir dir;
  Outbox outbox(dir / "outbox");
  std::string error;
  ASSERT_TRUE(outbox.Open(error)) << error;
  std::vector<OutboxEntry> staged(3);
  for (int n : {0, 1, 2}) {
    ASSERT_TRUE(outbox.Stage(*SmallObject(Uid(n)), {"B"}, staged[n], error)) << error;
  }
  EXPECT_TRUE(outbox.Entries().empty());
  for (const OutboxEntry& entry : staged) EXPECT_FALSE(fs::exists(outbox.PathOf(entry)));
  // The second one's file is lost before the commit.
  for (const fs::directory_entry& item : fs::directory_iterator(dir / "outbox")) {
    if (item.path().filename().string().starts_with(Uid(1) + ".dcm.")) fs::remove(item.path());
  }
  EXPECT_FALSE(outbox.Commit(staged, error));
  EXPECT_NE(error.find(Uid(1) + ".dcm"), std::string::npos) << error;
  ASSERT_EQ(staged.size(), 2u);
  EXPECT_EQ(staged[0].sopInstanceUid, Uid(0));
  EXPECT_EQ(staged[1].sopInstanceUid, Uid(2));
  const std::vector<OutboxEntry> entries = outbox.Entries();
  EXPECT_EQ(InstancesOf(entries), (std::set<std::string>{Uid(0), Uid(2)}));
  for (const OutboxEntry& entry : entries) {
    DicomFile file;
    ASSERT_TRUE(ReadDicomFile(outbox.PathOf(entry).string(), file, error)) << error;
    EXPECT_EQ(file.dataSet.GetString(0x0008, 0x0018), entry.sopInstanceUid);
    EXPECT_EQ(entry.batch, "B");
  }
}

// A record as the previous version wrote it: no destination, no commitment wish.
std::string FirstVersionRecord(const std::string& state, const std::string& uid,
                               const std::string& source) {
  const std::string body = "1\t" + state + "\t2\t" + uid + ".dcm\t1.2.840.10008.5.1.4.1.1.7\t" +
                           uid + "\tB0\tPACS did not answer\t" + source;
  uint32_t hash = 2166136261u;  // the record's FNV-1a checksum
  for (const char c : body) {
    hash ^= static_cast<uint8_t>(c);
    hash *= 16777619u;
  }
  char sum[16];
  std::snprintf(sum, sizeof sum, "\t%08x\n", hash);
  return body + sum;
}

PacsTarget Pacs(const std::string& aet, const std::string& port, bool commit) {
  PacsTarget target;
  target.node = RemoteNode{"VELLORAN", aet, "10.0.0.9", port};
  target.commit = commit;
  return target;
}

// Objects queued by the previous version carry no destination: they are read as they were, take
// the PACS of the settings at their first delivery (an object already stored keeping its wish for
// commitment), keep it across a restart, and never take another one after.
TEST(Outbox, ObjectsOfThePreviousVersionTakeTheSettingsPacsOnce) {
  testsupport::TempDir dir;
  const fs::path folder = dir / "outbox";
  fs::create_directories(folder);
  std::string journal;
  for (int n : {1, 2}) {
    auto object = SmallObject(Uid(n));
    ASSERT_TRUE(object->SaveToFile((folder / (Uid(n) + ".dcm")).string(),
                                   object->GetString(8, 0x16), Uid(n)));
    journal += FirstVersionRecord(n == 1 ? "waiting" : "stored", Uid(n), "/home/u/report.pdf");
  }
  testsupport::WriteFile(folder / "journal", journal);
  {
    Outbox outbox(folder);
    std::string error;
    ASSERT_TRUE(outbox.Open(error)) << error;
    const std::vector<OutboxEntry> entries = outbox.Entries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].state, OutboxState::Waiting);
    EXPECT_EQ(entries[0].attempts, 2);
    EXPECT_EQ(entries[0].cause, "PACS did not answer");
    EXPECT_EQ(OutboxObjectName(entries[0]), "report.pdf");
    EXPECT_EQ(entries[1].state, OutboxState::Stored);
    for (const OutboxEntry& entry : entries) {
      EXPECT_EQ(entry.destination.kind, DestinationKind::Unknown);
    }
    EXPECT_EQ(AddressUnaddressed(outbox, Pacs("PACSAET", "104", false)), 2u);
    EXPECT_EQ(AddressUnaddressed(outbox, Pacs("OTHER", "11112", true)), 0u);
  }
  Outbox reopened(folder);
  std::string error;
  ASSERT_TRUE(reopened.Open(error)) << error;
  const std::vector<OutboxEntry> entries = reopened.Entries();
  ASSERT_EQ(entries.size(), 2u);
  for (const OutboxEntry& entry : entries) {
    EXPECT_EQ(DestinationText(entry.destination), "PACSAET at 10.0.0.9:104");
    EXPECT_EQ(entry.source, "/home/u/report.pdf");
  }
  EXPECT_FALSE(entries[0].commit);
  EXPECT_TRUE(entries[1].commit);
  EXPECT_FALSE(IsForTarget(entries[0], Pacs("OTHER", "11112", false)));
}

// A writer killed at random moments while it queues and delivers: every object it was told is
// queued is still there, readable and recorded; none it was told is delivered comes back; no
// file is left without a record or a record without a file.
TEST(Outbox, SurvivesAKillAtAnyMoment) {
  testsupport::TempDir dir;
  const fs::path folder = dir / "outbox";
  std::mt19937 random(24);
  int next = 0;
  std::set<std::string> queued;
  std::set<std::string> delivered;
  for (int round = 0; round < 12; ++round) {
    int pipeEnds[2];
    ASSERT_EQ(::pipe(pipeEnds), 0);
    const int first = next;
    next += 400;
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ::close(pipeEnds[0]);
      Outbox outbox(folder);
      std::string error;
      if (!outbox.Open(error)) ::_exit(3);
      for (int n = first; n < first + 400; ++n) {
        // Objects of a few kilobytes up to half a megabyte, so kills land inside writes too.
        if (!outbox.Add(*SmallObject(Uid(n), (n % 7) * 70000), {"B"}, error)) ::_exit(4);
        std::string note = "A " + Uid(n) + "\n";
        if (n % 3 == 0 && outbox.MarkDelivered(Uid(n - 1) + ".dcm")) {
          note += "D " + Uid(n - 1) + "\n";
        }
        if (::write(pipeEnds[1], note.data(), note.size()) < 0) ::_exit(5);
      }
      ::_exit(0);
    }
    ::close(pipeEnds[1]);
    ::usleep(static_cast<useconds_t>(std::uniform_int_distribution<int>(2000, 60000)(random)));
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    std::string notes;
    char buffer[4096];
    ssize_t got = 0;
    while ((got = ::read(pipeEnds[0], buffer, sizeof buffer)) > 0) notes.append(buffer, got);
    ::close(pipeEnds[0]);
    std::istringstream lines(notes);
    std::string kind, uid;
    while (lines >> kind >> uid) (kind == "A" ? queued : delivered).insert(uid);

    Outbox outbox(folder);
    std::string error;
    ASSERT_TRUE(outbox.Open(error)) << error;
    const std::vector<OutboxEntry> entries = outbox.Entries();
    const std::set<std::string> present = InstancesOf(entries);
    for (const std::string& queuedUid : queued) {
      if (delivered.count(queuedUid) == 0) {
        EXPECT_EQ(present.count(queuedUid), 1u) << "lost " << queuedUid << " in round " << round;
      }
    }
    for (const std::string& deliveredUid : delivered) {
      EXPECT_EQ(present.count(deliveredUid), 0u) << "back again: " << deliveredUid;
    }
    std::set<std::string> files;
    for (const fs::directory_entry& item : fs::directory_iterator(folder)) {
      const std::string name = item.path().filename().string();
      EXPECT_FALSE(name.ends_with(".part")) << name;
      if (name.ends_with(".dcm")) files.insert(name);
    }
    std::set<std::string> recorded;
    for (const OutboxEntry& entry : entries) {
      recorded.insert(entry.file);
      EXPECT_EQ(entry.state, OutboxState::Waiting);
      DicomFile file;
      ASSERT_TRUE(ReadDicomFile(outbox.PathOf(entry).string(), file, error)) << error;
      EXPECT_EQ(file.dataSet.GetString(0x0008, 0x0018), entry.sopInstanceUid);
    }
    EXPECT_EQ(files, recorded) << "round " << round;
    if (HasFailure()) break;
  }
}

}  // namespace
