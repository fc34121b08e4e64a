// Patient and study search: query records from the form, worklist results, and both searches
// against real DCMTK servers (dcmqrscp for studies, wlmscpfs for the worklist).
#include "search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stop_token>
#include <thread>

#include "batch.h"
#include "bufdata.h"
#include "dimse.h"
#include "log.h"
#include "orthanc.h"
#include "scripted_peer.h"
#include "scripted_worklist.h"
#include "storage.h"
#include "syntaxes.h"
#include "testsupport.h"

using testsupport::RunCommand;
using testsupport::TempDir;

namespace {

TEST(SearchForm, QueryRecordsFollowTheFormFields) {
  SearchForm form;
  form.patientName = "SMI";
  form.patientId = "PID7";
  form.accessionNumber = "ACC1";
  form.studyDescription = "chest";
  form.fromDate = "20240101";
  form.toDate = "20240108";
  form.modality = "CT";
  const StudyInfo pacs = PacsQueryFromForm(form);
  EXPECT_EQ(pacs.patientName, "SMI*");
  EXPECT_EQ(pacs.patientId, "PID7");  // IDs are matched exactly, without wild card
  EXPECT_EQ(pacs.accessionNumber, "ACC1");
  EXPECT_EQ(pacs.studyDescription, "*chest*");
  EXPECT_EQ(pacs.studyDate, "20240101-20240108");
  EXPECT_EQ(pacs.modality, "CT");
  EXPECT_EQ(pacs.studyInstanceUid, "");

  const TWorklistItem worklist = WorklistQueryFromForm(form);
  EXPECT_EQ(worklist.patientName, "SMI*");
  EXPECT_EQ(worklist.requestedProcedureDescription, "*chest*");
  // The worklist is asked for the "to" day only, whatever the "from" picker says.
  EXPECT_EQ(worklist.scheduledProcedureStepStartDate, "20240108-20240108");
  EXPECT_EQ(worklist.modality, "CT");

  SearchForm empty;
  empty.fromDate = empty.toDate = "20240108";
  EXPECT_TRUE(SearchHasNoFilters(empty));
  EXPECT_EQ(PacsQueryFromForm(empty).patientName, "");  // no lone "*" for an empty field
  // A "from" date left unknown sets no lower bound.
  empty.fromDate.clear();
  EXPECT_EQ(PacsQueryFromForm(empty).studyDate, "-20240108");
  empty.studyDescription = "x";
  EXPECT_FALSE(SearchHasNoFilters(empty));
}

TEST(SearchForm, ModalityFilterIsABoxItemOrNothing) {
  const std::pair<const char*, const char*> cases[] = {{"CT", "CT"}, {"xc", "XC"}, {"ALL", ""},
                                                       {"", ""},     {"PET", ""},  {"C", ""}};
  for (const auto& [typed, filter] : cases) EXPECT_EQ(ModalityFilter(typed), filter) << typed;
}

void AddText(DcmObj& dataSet, uint16_t group, uint16_t element, const std::string& text) {
  dataSet.Append(
      DcmTag::FromBytes(group, element, static_cast<uint32_t>(text.size()), text.data(), "LO"));
}

TEST(WorklistResult, AttributesAreFoundInNestedAndFlatSequences) {
  DcmObj identifier;
  AddText(identifier, 0x0008, 0x0050, "ACC9");
  AddText(identifier, 0x0010, 0x0010, "DOE^JANE");
  AddText(identifier, 0x0010, 0x0020, "PID9");
  AddText(identifier, 0x0032, 0x1060, "XRAY CHEST");
  // A step sequence held nested (defined length) ...
  auto step = std::make_unique<DcmObj>();
  AddText(*step, 0x0008, 0x0060, "CR");
  AddText(*step, 0x0040, 0x0002, "20240301");
  AddText(*step, 0x0040, 0x0003, "101500");
  AddText(*step, 0x0040, 0x0007, "");  // empty: must not wipe the description
  auto sequence = std::make_unique<DcmObj>();
  sequence->AddSequence(0xFFFE, 0xE000, std::move(step));
  identifier.AddSequence(0x0040, 0x0100, std::move(sequence));
  StudyInfo nested;
  WorklistResultToStudy(identifier, nested);
  EXPECT_EQ(nested.accessionNumber, "ACC9");
  EXPECT_EQ(nested.patientName, "DOE^JANE");
  EXPECT_EQ(nested.modality, "CR");
  EXPECT_EQ(nested.studyDate, "20240301");
  EXPECT_EQ(nested.studyTime, "101500");
  EXPECT_EQ(nested.studyDescription, "XRAY CHEST");
  EXPECT_EQ(nested.studyInstanceUid, "");

  // ... and one held flat (undefined length), whose step description replaces the requested
  // procedure description.
  DcmObj flat;
  AddText(flat, 0x0032, 0x1060, "XRAY CHEST");
  flat.Append(DcmTag::FromBytes(0x0040, 0x0100, kUndefinedLength, nullptr, "SQ"));
  flat.Append(DcmTag::FromBytes(0xFFFE, 0xE000, kUndefinedLength, nullptr, "DL"));
  AddText(flat, 0x0040, 0x0007, "CHEST PA");
  flat.Append(DcmTag::FromBytes(0xFFFE, 0xE00D, 0, nullptr, "DL"));
  flat.Append(DcmTag::FromBytes(0xFFFE, 0xE0DD, 0, nullptr, "DL"));
  StudyInfo fromFlat;
  WorklistResultToStudy(flat, fromFlat);
  EXPECT_EQ(fromFlat.studyDescription, "CHEST PA");
}

RemoteNode Node(const std::string& calledAet, int port) {
  RemoteNode node;
  node.callingAet = "VELLORAN";
  node.calledAet = calledAet;
  node.host = "127.0.0.1";
  node.port = std::to_string(port);
  return node;
}

// Waits for a server to answer a C-ECHO. A bare TCP probe is not used: dcmqrscp can crash when a
// connection closes before its association request arrives.
bool WaitForEcho(const RemoteNode& node) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    if (EchoSCU(node, 2)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

std::vector<std::string> Names(const std::vector<StudyInfo>& results) {
  std::vector<std::string> names;
  for (const StudyInfo& study : results) names.push_back(study.patientName);
  std::sort(names.begin(), names.end());
  return names;
}

// A dump2dcm text of one DICOM object with patient and study attributes.
std::string StudyDump(const std::string& name, const std::string& id, const std::string& date,
                      const std::string& description, const std::string& accession,
                      const std::string& uid) {
  return "(0008,0016) UI [1.2.840.10008.5.1.4.1.1.7]\n"
         "(0008,0018) UI [" +
         uid +
         ".1.1]\n"
         "(0008,0020) DA [" +
         date +
         "]\n"
         "(0008,0030) TM [101010]\n"
         "(0008,0050) SH [" +
         accession +
         "]\n"
         "(0008,0060) CS [OT]\n"
         "(0008,1030) LO [" +
         description +
         "]\n"
         "(0010,0010) PN [" +
         name +
         "]\n"
         "(0010,0020) LO [" +
         id +
         "]\n"
         "(0010,0030) DA [19800512]\n"
         "(0010,0040) CS [F]\n"
         "(0020,000d) UI [" +
         uid +
         "]\n"
         "(0020,000e) UI [" +
         uid +
         ".1]\n"
         "(0020,0010) SH [1]\n"
         "(0020,0011) IS [1]\n"
         "(0020,0013) IS [1]\n";
}

TEST(SearchPeers, StudyRootSearchOfDcmqrscp) {
  for (const char* tool : {"dcmqrscp", "storescu", "dump2dcm"}) {
    ASSERT_TRUE(testsupport::HaveProgram(tool))
        << tool << " missing (scripts/setup.sh installs it)";
  }
  TempDir folder;
  std::filesystem::create_directories(folder / "db");
  const int port = testsupport::FreePort();
  testsupport::WriteFile(folder / "dcmqrscp.cfg",
                         "NetworkTCPPort = " + std::to_string(port) +
                             "\nMaxPDUSize = 16384\nMaxAssociations = 16\n"
                             "HostTable BEGIN\nHostTable END\nVendorTable BEGIN\nVendorTable END\n"
                             "AETable BEGIN\nQRSCP " +
                             (folder / "db").string() + " RW (100, 64mb) ANY\nAETable END\n");
  const struct {
    const char* name;
    const char* id;
    const char* date;
    const char* description;
    const char* accession;
    const char* uid;
  } studies[] = {
      {"SMITH^JOHN", "P1", "20240105", "CHEST PA", "ACC1", "1.2.826.0.1.3680043.10.50"},
      {"SMITHERS^ANN", "P2", "20240110", "HAND", "ACC2", "1.2.826.0.1.3680043.10.51"},
      {"JONES^BOB", "P3", "20240105", "CHEST LAT", "ACC3", "1.2.826.0.1.3680043.10.52"},
  };
  std::vector<std::string> storeArgs = {"storescu", "-aec", "QRSCP", "127.0.0.1",
                                        std::to_string(port)};
  for (const auto& study : studies) {
    const auto dump = folder / (std::string(study.id) + ".txt");
    const auto file = folder / (std::string(study.id) + ".dcm");
    testsupport::WriteFile(dump, StudyDump(study.name, study.id, study.date, study.description,
                                           study.accession, study.uid));
    ASSERT_EQ(RunCommand({"dump2dcm", "-g", dump.string(), file.string()}).exitCode, 0);
    storeArgs.push_back(file.string());
  }
  // dcmqrscp serves each association in a child of its own: in single-process mode it was seen
  // to crash on the first association right after start.
  testsupport::ChildProcess server({"dcmqrscp", "-c", (folder / "dcmqrscp.cfg").string()},
                                   (folder / "dcmqrscp.log").string());
  ASSERT_TRUE(server.WaitListening(port)) << testsupport::ReadFile(folder / "dcmqrscp.log");
  ASSERT_TRUE(WaitForEcho(Node("QRSCP", port)));
  const auto stored = RunCommand(storeArgs);
  ASSERT_EQ(stored.exitCode, 0) << stored.errors;
  ASSERT_TRUE(server.Running());

  struct Case {
    const char* name;
    SearchForm form;
    std::vector<std::string> expected;
  };
  auto form = [](const char* name, const char* description, const char* from, const char* to) {
    SearchForm f;
    f.patientName = name;
    f.studyDescription = description;
    f.fromDate = from;
    f.toDate = to;
    return f;
  };
  const Case cases[] = {
      {"name prefix", form("SMITH", "", "20240101", "20240131"), {"SMITHERS^ANN", "SMITH^JOHN"}},
      {"description inside",
       form("", "CHEST", "20240101", "20240131"),
       {"JONES^BOB", "SMITH^JOHN"}},
      {"one day", form("", "", "20240110", "20240110"), {"SMITHERS^ANN"}},
      {"nothing", form("NOBODY", "", "20240101", "20240131"), {}},
  };
  SetLogTarget((folder / "velloran.log").string(), "", "");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<StudyInfo> results;
    EXPECT_EQ(SearchPACS(Node("QRSCP", port), c.form, results), SearchOutcome::Completed)
        << testsupport::ReadFile(folder / "velloran.log")
        << testsupport::ReadFile(folder / "dcmqrscp.log");
    EXPECT_EQ(Names(results), c.expected);
  }
  std::vector<StudyInfo> results;
  SearchForm byId;
  byId.patientId = "P2";
  byId.fromDate = "20240110";
  byId.toDate = "20240110";
  ASSERT_EQ(SearchPACS(Node("QRSCP", port), byId, results), SearchOutcome::Completed);
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(results[0].studyInstanceUid, "1.2.826.0.1.3680043.10.51");
  EXPECT_EQ(results[0].accessionNumber, "ACC2");
  EXPECT_EQ(results[0].patientBirthDate, "19800512");
  EXPECT_EQ(results[0].patientSex, "F");
  EXPECT_EQ(results[0].studyDate, "20240110");

  // Cancelled before the first response: the C-CANCEL-FIND-RQ goes out at once, dcmqrscp ends
  // the search, nothing after the cancel is taken as a result and the release completes.
  std::stop_source stop;
  stop.request_stop();
  EXPECT_EQ(SearchPACS(Node("QRSCP", port), form("", "", "20240101", "20240131"), results,
                       stop.get_token()),
            SearchOutcome::Cancelled)
      << testsupport::ReadFile(folder / "velloran.log");
  EXPECT_TRUE(results.empty());
  const std::string log = testsupport::ReadFile(folder / "velloran.log");
  EXPECT_NE(log.find("INFO, RunFind, search cancelled"), std::string::npos) << log;
  EXPECT_EQ(log.find("WARNING"), std::string::npos) << log;

  EXPECT_EQ(SearchPACS(Node("QRSCP", testsupport::FreePort()), byId, results),
            SearchOutcome::NotConnected);
  EXPECT_TRUE(results.empty());
}

TEST(SearchPeers, WorklistSearchOfWlmscpfs) {
  for (const char* tool : {"wlmscpfs", "dump2dcm"}) {
    ASSERT_TRUE(testsupport::HaveProgram(tool))
        << tool << " missing (scripts/setup.sh installs it)";
  }
  TempDir folder;
  const auto aeFolder = folder / "WORKLIST";
  std::filesystem::create_directories(aeFolder);
  testsupport::WriteFile(aeFolder / "lockfile", "");
  const struct {
    const char* name;
    const char* date;
    const char* stepDescription;
    const char* uid;
  } entries[] = {
      {"SMITH^JOHN", "20240301", "CHEST PA", "1.2.826.0.1.3680043.10.60"},
      {"SMITHERS^ANN", "20240301", "HAND PA", "1.2.826.0.1.3680043.10.61"},
      {"SMITH^LATER", "20240302", "HAND", "1.2.826.0.1.3680043.10.62"},
  };
  int index = 0;
  for (const auto& entry : entries) {
    ++index;
    std::string dump = "(0008,0005) CS [ISO_IR 100]\n(0008,0050) SH [ACC" + std::to_string(index) +
                       "]\n(0010,0010) PN [" + entry.name + "]\n(0010,0020) LO [PID" +
                       std::to_string(index) + "]\n(0010,0030) DA [19800512]\n(0010,0040) CS [M]\n";
    dump += "(0020,000d) UI [" + std::string(entry.uid) + "]\n";
    dump +=
        "(0032,1060) LO [XRAY CHEST]\n(0040,0100) SQ\n(fffe,e000) -\n(0008,0060) CS [CR]\n"
        "(0040,0001) AE [STATION1]\n(0040,0002) DA [" +
        std::string(entry.date) + "]\n(0040,0003) TM [101500]\n";
    // wlmscpfs ignores entries without a step description, so each has one.
    dump += "(0040,0007) LO [" + std::string(entry.stepDescription) + "]\n";
    dump += "(0040,0009) SH [SPS1]\n(fffe,e00d) -\n(fffe,e0dd) -\n(0040,1001) SH [RP1]\n";
    const auto text = folder / ("entry" + std::to_string(index) + ".txt");
    testsupport::WriteFile(text, dump);
    ASSERT_EQ(RunCommand({"dump2dcm", text.string(),
                          (aeFolder / ("entry" + std::to_string(index) + ".wl")).string()})
                  .exitCode,
              0);
  }
  const int port = testsupport::FreePort();
  testsupport::ChildProcess server(
      {"wlmscpfs", "-dfp", folder.path().string(), std::to_string(port)},
      (folder / "wlmscpfs.log").string());
  ASSERT_TRUE(server.WaitListening(port)) << testsupport::ReadFile(folder / "wlmscpfs.log");
  ASSERT_TRUE(WaitForEcho(Node("WORKLIST", port)));

  SearchForm form;
  form.patientName = "SMITH";
  form.fromDate = "20240101";  // not used by the worklist search
  form.toDate = "20240301";
  std::vector<StudyInfo> results;
  ASSERT_EQ(SearchWorklist(Node("WORKLIST", port), form, results), SearchOutcome::Completed);
  ASSERT_EQ(Names(results), (std::vector<std::string>{"SMITHERS^ANN", "SMITH^JOHN"}));
  for (const StudyInfo& study : results) {
    SCOPED_TRACE(study.patientName);
    EXPECT_EQ(study.studyDate, "20240301");
    EXPECT_EQ(study.studyTime, "101500");
    EXPECT_EQ(study.modality, "CR");
    EXPECT_EQ(study.patientBirthDate, "19800512");
    if (study.patientName == "SMITH^JOHN") {
      EXPECT_EQ(study.studyDescription, "CHEST PA");  // the step's description wins
      EXPECT_EQ(study.studyInstanceUid, "1.2.826.0.1.3680043.10.60");
    } else {
      EXPECT_EQ(study.studyDescription, "HAND PA");
      EXPECT_EQ(study.studyInstanceUid, "1.2.826.0.1.3680043.10.61");
    }
  }
  form.modality = "MR";
  ASSERT_EQ(SearchWorklist(Node("WORKLIST", port), form, results), SearchOutcome::Completed);
  EXPECT_TRUE(results.empty());
}

// Worklist answers in ISO_IR 144 and ISO_IR 192, from wlmscpfs and from Orthanc, become UTF-8
// records, and the objects of a batch made from such a record keep every character.
TEST(SearchPeers, WorklistAnswersInOtherCharacterSetsMakeObjectsWithTheSameNames) {
  ASSERT_TRUE(testsupport::HaveProgram("wlmscpfs") && testsupport::HaveProgram("dump2dcm") &&
              testsupport::OrthancPacs::Available())
      << "wlmscpfs, dump2dcm or Orthanc missing";
  TempDir work;
  const std::string cyrillic =
      "\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD\xD0\xBE\xD0\xB2^\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD";
  const std::string greek =
      "\xCE\x94\xCE\xB9\xCE\xBF\xCE\xBD\xCF\x8D\xCF\x83\xCE\xB9\xCE\xBF\xCF\x82";
  const struct {
    const char* characterSet;
    std::string storedName;  // in the entry's own set
    std::string name;        // UTF-8
  } entries[] = {
      {"ISO_IR 144", "\xB8\xD2\xD0\xDD\xDE\xD2^\xB8\xD2\xD0\xDD", cyrillic},
      {"ISO_IR 192", greek, greek},
  };
  const auto writeEntries = [&](const std::filesystem::path& folder) {
    std::filesystem::create_directories(folder);
    int index = 0;
    for (const auto& entry : entries) {
      const std::string number = std::to_string(++index);
      const auto text = work / ("entry" + number + ".txt");
      testsupport::WriteFile(
          text, "(0008,0005) CS [" + std::string(entry.characterSet) + "]\n(0008,0050) SH [ACC" +
                    number + "]\n(0010,0010) PN [" + entry.storedName + "]\n(0010,0020) LO [PID" +
                    number + "]\n(0010,0040) CS [F]\n(0020,000d) UI [1.2.826.0.1.3680043.10.7" +
                    number +
                    "]\n(0032,1060) LO [X]\n(0040,0100) SQ\n(fffe,e000) -\n(0008,0060) CS [CR]\n"
                    "(0040,0001) AE [STATION1]\n(0040,0002) DA [20240301]\n"
                    "(0040,0003) TM [101500]\n(0040,0007) LO [STEP]\n(0040,0009) SH [SPS1]\n"
                    "(fffe,e00d) -\n(fffe,e0dd) -\n(0040,1001) SH [RP1]\n");
      ASSERT_EQ(RunCommand({"dump2dcm", text.string(), (folder / ("e" + number + ".wl")).string()})
                    .exitCode,
                0);
    }
  };
  writeEntries(work / "wlm" / "WORKLIST");
  testsupport::WriteFile(work / "wlm" / "WORKLIST" / "lockfile", "");
  const int wlmPort = testsupport::FreePort();
  // wlmscpfs answers in the entry's own character set when told to keep it.
  testsupport::ChildProcess wlmscpfs(
      {"wlmscpfs", "-csk", "-dfp", (work / "wlm").string(), std::to_string(wlmPort)},
      (work / "wlmscpfs.log").string());
  ASSERT_TRUE(WaitForEcho(Node("WORKLIST", wlmPort)));
  // Orthanc answers in its default encoding whatever the query declares, so it is told to use
  // UTF-8, as a site with such names would.
  testsupport::OrthancPacs orthanc(work, testsupport::OrthancPacs::CalledAet::Any,
                                   testsupport::OrthancPacs::AnswerEncoding::Utf8);
  ASSERT_TRUE(orthanc.Running()) << testsupport::ReadFile(work / "orthanc.log");
  writeEntries(orthanc.Worklists());

  const std::string pdf = (work / "letter.pdf").string();
  testsupport::WriteFile(pdf, "%PDF-1.4\n%%EOF\n");
  for (const RemoteNode& server :
       {Node("WORKLIST", wlmPort), Node("ORTHANC", std::stoi(orthanc.Port()))}) {
    SCOPED_TRACE(server.calledAet);
    SearchForm form;
    form.toDate = "20240301";
    std::vector<StudyInfo> results;
    ASSERT_EQ(SearchWorklist(server, form, results), SearchOutcome::Completed);
    ASSERT_EQ(Names(results), (std::vector<std::string>{greek, cyrillic}));
    for (const StudyInfo& chosen : results) {
      BatchForm batchForm;
      batchForm.modalityText = "CR";
      UserMessage message;
      ASSERT_TRUE(PrepareBatch(batchForm, &chosen, 1, SetupConfig{}, message)) << message;
      BatchLists lists;
      ASSERT_TRUE(ConvertItems({pdf}, lists, message)) << message;
      ASSERT_EQ(lists.pdfs.size(), 1u);
      const DcmObj& object = *lists.pdfs[0];
      EXPECT_EQ(object.GetString(0x0008, 0x0005), "ISO_IR 192");
      EXPECT_EQ(object.GetString(0x0010, 0x0010), chosen.patientName);
    }
  }
}

// A search that fails part-way keeps what it got and says why it stopped.
TEST(SearchPeers, ASearchStoppedPartWayKeepsItsMatchesAndSaysWhy) {
  using testpeer::Step;
  const struct {
    const char* name;
    std::vector<Step> end;
    std::string message;
  } cases[] = {
      {"connection closed",
       {Step::Close()},
       "Search stopped: the worklist server closed the connection; 12 entries shown"},
      {"failure status",
       {Step::Send(
            testpeer::PData(1, {{0x03, testpeer::ResponseCommand(kCommandFindRSP, 0xC001)}})),
        Step::ReceiveUntilClose()},
       "Search stopped: the worklist server answered with the failure status 0xC001; 12 entries "
       "shown"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testpeer::ScriptedPeer peer(testpeer::PartialWorklist(12, c.end));
    RemoteNode node;
    node.callingAet = "VELLORAN";
    node.calledAet = "PEER";
    node.host = "127.0.0.1";
    node.port = peer.Port();
    std::vector<StudyInfo> results;
    UserMessage cause;
    EXPECT_EQ(SearchWorklist(node, SearchForm{}, results, {}, &cause), SearchOutcome::Interrupted);
    ASSERT_EQ(results.size(), 12u);
    EXPECT_EQ(results[11].patientName, "DOE^JANE11");
    EXPECT_EQ(SearchStoppedMessage(cause, results.size()).English(), c.message);
    peer.Finish();
  }
}

}  // namespace
