// Tests of the batch: preparation and its checks, conversion order, saving, unique UIDs.
#include "batch.h"

#include <gtest/gtest.h>

#include <set>
#include <stop_token>

#include "batchpatient.h"
#include "bufdata.h"
#include "convertertest.h"
#include "dicomfile.h"
#include "log.h"
#include "testpictures.h"
#include "testsupport.h"

namespace {

class BatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CurrentStudy = StudyInfo{};
    AccessionCounter = 0;
    form_.patientName = "Roe^Rick";
    form_.patientId = "PID7";
    form_.studyDate = "20240102";
    form_.birthDate = "19700203";
    form_.modalityText = "CT";
  }

  std::string Write(const std::string& name, const std::string& bytes) {
    const auto path = dir_ / name;
    testsupport::WriteFile(path, bytes);
    return path.string();
  }

  std::string Png(const std::string& name) {
    return Write(name, testpictures::MakePng(16, 8, testpictures::PngKind::Rgb));
  }

  BatchForm form_;
  SetupConfig settings_;
  testsupport::TempDir dir_;
};

TEST_F(BatchTest, ChecksReportTheFirstProblemOnly) {
  const struct {
    const char* name;
    const char* id;
    size_t items;
    const char* message;
  } rows[] = {
      {"", "", 0, "Patient Name can't be empty"},
      {"", "PID", 1, "Patient Name can't be empty"},
      {"Roe", "", 0, "Patient ID can't be empty"},
      {"Roe", "PID", 0, "No files to send"},
      {"Roe", "PID", 1, ""},
  };
  for (const auto& row : rows) {
    form_.patientName = row.name;
    form_.patientId = row.id;
    UserMessage message;
    EXPECT_EQ(PrepareBatch(form_, nullptr, row.items, settings_, message), *row.message == '\0');
    EXPECT_EQ(message.English(), row.message);
  }
}

TEST_F(BatchTest, FormFillsTheStudyAndAnAccessionNumberIsGenerated) {
  const convertertest::FixedClock clock(convertertest::kFixedTime);  // 2024-05-15 09:08:07
  settings_.InstitutionName = "Clinic A";
  form_.sexIndex = 1;
  form_.modalityText = "ALL";
  UserMessage message;
  ASSERT_TRUE(PrepareBatch(form_, nullptr, 3, settings_, message));
  const StudyInfo& study = CurrentStudy;
  EXPECT_EQ(study.patientName, "Roe^Rick");
  EXPECT_EQ(study.patientSex, "F");
  EXPECT_EQ(study.patientBirthDate, "19700203");
  EXPECT_EQ(study.studyDate, "20240102");
  EXPECT_EQ(study.studyTime, "090807");
  EXPECT_EQ(study.modality, "OT");
  EXPECT_EQ(study.institutionName, "Clinic A");
  EXPECT_EQ(study.studyId, "");
  // "yymmddhhnn" and the counter, which starts at 0.
  EXPECT_EQ(study.accessionNumber, "24051509080");
  EXPECT_EQ(AccessionCounter, 1);
  EXPECT_EQ(study.studyInstanceUid, BatchUIDRoot);
  EXPECT_EQ(InstanceCounter, 0);
  EXPECT_EQ(SeriesNumberText, "");

  const struct {
    int sexIndex;
    const char* sex;
    const char* box;
    const char* modality;
  } rows[] = {{0, "M", "MR", "MR"}, {2, "O", "XC", "XC"}, {5, "M", "PX", "OT"}, {1, "F", "", "OT"}};
  for (const auto& row : rows) {
    form_.sexIndex = row.sexIndex;
    form_.modalityText = row.box;
    ASSERT_TRUE(PrepareBatch(form_, nullptr, 1, settings_, message));
    EXPECT_EQ(CurrentStudy.patientSex, row.sex);
    EXPECT_EQ(CurrentStudy.modality, row.modality);
  }
}

TEST_F(BatchTest, TheStudyUidIsLoggedWithDebugLoggingOn) {
  const auto logFile = dir_ / "batch.log";
  SetLogTarget(logFile.string(), "", "");
  const int level = LogLevel;
  LogLevel = 2;
  UserMessage message;
  // A failed check still fills the study and logs its UID.
  EXPECT_FALSE(PrepareBatch(form_, nullptr, 0, settings_, message));
  LogLevel = level;
  ReleaseLogTarget();
  const std::string log = testsupport::ReadFile(logFile);
  EXPECT_NE(log.find("INFO, Study Instance UID = " + CurrentStudy.studyInstanceUid + "\n"),
            std::string::npos)
      << log;
  EXPECT_FALSE(CurrentStudy.studyInstanceUid.empty());
}

TEST_F(BatchTest, AChosenResultReplacesTheFormAndKeepsItsStudyUid) {
  StudyInfo chosen;
  chosen.patientName = "Worklist^Wendy";
  chosen.patientId = "WL1";
  chosen.patientSex = "O";
  chosen.studyDate = "20230101";
  chosen.accessionNumber = "A55";
  chosen.studyInstanceUid = "1.2.826.0.1.5";
  chosen.referringPhysicianName = "Ref^Ray";
  UserMessage message;
  ASSERT_TRUE(PrepareBatch(form_, &chosen, 1, settings_, message));
  EXPECT_EQ(CurrentStudy.patientName, "Worklist^Wendy");
  EXPECT_EQ(CurrentStudy.studyDate, "20230101");
  EXPECT_EQ(CurrentStudy.accessionNumber, "A55");
  EXPECT_EQ(CurrentStudy.studyInstanceUid, "1.2.826.0.1.5");
  EXPECT_NE(BatchUIDRoot, "1.2.826.0.1.5");
  EXPECT_EQ(CurrentStudy.referringPhysicianName, "Ref^Ray");
  EXPECT_EQ(AccessionCounter, 0);  // nothing generated
}

TEST_F(BatchTest, TheSamePatientKeepsItsStudyAndAnotherPatientStartsANewOne) {
  StudyInfo chosen;
  chosen.patientName = "Worklist^Wendy";
  chosen.patientId = "WL1";
  chosen.studyInstanceUid = "1.2.826.0.1.5";
  chosen.referringPhysicianName = "Ref^Ray";
  UserMessage message;
  ASSERT_TRUE(PrepareBatch(form_, &chosen, 1, settings_, message));
  // The same patient typed after the results were cleared keeps the study and its physician.
  form_.patientName = "Worklist^Wendy";
  form_.patientId = "WL1";
  ASSERT_TRUE(PrepareBatch(form_, nullptr, 1, settings_, message));
  EXPECT_EQ(CurrentStudy.studyInstanceUid, "1.2.826.0.1.5");
  EXPECT_EQ(CurrentStudy.referringPhysicianName, "Ref^Ray");
  const struct {
    const char* name;
    const char* id;
  } others[] = {{"Worklist^Wendy", "WL2"}, {"Other^Olga", "WL1"}};
  for (const auto& other : others) {
    ASSERT_TRUE(PrepareBatch(form_, &chosen, 1, settings_, message));
    form_.patientName = other.name;
    form_.patientId = other.id;
    ASSERT_TRUE(PrepareBatch(form_, nullptr, 1, settings_, message));
    EXPECT_EQ(CurrentStudy.studyInstanceUid, BatchUIDRoot) << other.name << " " << other.id;
    EXPECT_EQ(CurrentStudy.referringPhysicianName, "");
    // That new study stays with the new patient's next batch.
    const std::string newStudy = CurrentStudy.studyInstanceUid;
    ASSERT_TRUE(PrepareBatch(form_, nullptr, 1, settings_, message));
    EXPECT_EQ(CurrentStudy.studyInstanceUid, newStudy);
    EXPECT_NE(BatchUIDRoot, newStudy);
  }
}

TEST_F(BatchTest, ItemsAreNumberedInListOrderAcrossKinds) {
  const std::vector<std::string> items = {Png("a.png"), Png("b.PNG"), Write("c.pdf", "%PDF-1.4"),
                                          Write("notes.xyz", "skipped"), Png("d.png")};
  UserMessage message;
  ASSERT_TRUE(PrepareBatch(form_, nullptr, items.size(), settings_, message));
  BatchLists lists;
  std::vector<std::string> skipped;
  ASSERT_TRUE(ConvertItems(items, lists, message, &skipped)) << message;
  ASSERT_EQ(lists.images.size(), 3u);
  ASSERT_EQ(lists.pdfs.size(), 1u);
  EXPECT_EQ(lists.images[0]->GetString(0x0008, 0x0018), BatchUIDRoot + ".10.1");
  EXPECT_EQ(lists.images[1]->GetString(0x0008, 0x0018), BatchUIDRoot + ".10.2");
  EXPECT_EQ(lists.pdfs[0]->GetString(0x0008, 0x0018), BatchUIDRoot + ".1.3");
  EXPECT_EQ(lists.images[2]->GetString(0x0008, 0x0018), BatchUIDRoot + ".10.4");
  EXPECT_EQ(lists.images[0]->GetString(0x0020, 0x000E), BatchUIDRoot + ".20");
  EXPECT_EQ(lists.images[0]->GetString(0x0020, 0x000D), CurrentStudy.studyInstanceUid);
  EXPECT_EQ(skipped, std::vector<std::string>{items[3]});
}

// A source that cannot be converted gives no object: it is named with its reason and stays, the
// other items are written all the same, and the batch fails.
TEST_F(BatchTest, ABadSourceIsNamedWhileTheOtherItemsAreWritten) {
  const std::string jpeg = testpictures::MakeJpeg(64, 64, false);
  const struct {
    const char* name;
    std::string bytes;
  } rows[] = {
      {"cut.jpg", jpeg.substr(0, jpeg.size() / 2)},
      {"fake.mp4", "not a video"},
      {"broken.png", "\x89PNG\r\n\x1a\n broken"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    testsupport::TempDir out;
    const std::vector<std::string> items = {Png("first.png"), Write("doc.pdf", "%PDF-1.4"),
                                            Write(row.name, row.bytes), Png("last.png")};
    std::vector<std::string> written;
    UserMessage message;
    std::string prepared;
    ASSERT_TRUE(PrepareBatch(form_, nullptr, items.size(), settings_, prepared));
    BatchReport report;
    EXPECT_FALSE(SavePreparedBatch(items, out.path().string(), written, message, {}, &report));
    EXPECT_EQ(message.English().rfind(
                  "1 of 4 items were not written: " + std::string(row.name) + " (", 0),
              0u)
        << message;
    EXPECT_EQ(written.size(), 3u);
    EXPECT_EQ(report.DeliveredItems(), (std::vector<size_t>{0, 1, 3}));
    EXPECT_EQ(report.Cause().English().rfind(std::string(row.name) + ": ", 0), 0u)
        << report.Cause();
  }
  testsupport::TempDir out;
  std::vector<std::string> written;
  UserMessage message;
  EXPECT_FALSE(SaveBatch(form_, nullptr, {(dir_ / "vanished.pdf").string()}, settings_,
                         out.path().string(), written, message));
  EXPECT_NE(message.English().find("vanished.pdf"), std::string::npos) << message;
  EXPECT_TRUE(written.empty());
}

// A Save cancelled before it began writes nothing and keeps every item.
TEST_F(BatchTest, ACancelledSaveWritesNothingMoreAndSaysSo) {
  testsupport::TempDir out;
  const std::vector<std::string> items = {Png("a.png"), Png("b.png"), Write("c.pdf", "%PDF-1.4")};
  UserMessage message;
  ASSERT_TRUE(PrepareBatch(form_, nullptr, items.size(), settings_, message));
  std::stop_source cancel;
  cancel.request_stop();
  std::vector<std::string> written;
  BatchReport report;
  EXPECT_FALSE(
      SavePreparedBatch(items, out.path().string(), written, message, cancel.get_token(), &report));
  EXPECT_TRUE(written.empty());
  EXPECT_TRUE(std::filesystem::is_empty(out.path()));
  EXPECT_EQ(message.English(),
            "Save cancelled: 0 of 3 items were written; the other 3 stay in the list.");
}

// The grid's empty row, and no selection, choose the typed fields; a chosen row is shown as it
// will be sent.
TEST(BatchPatient, TheChosenRowIsShownAsItWillBeSent) {
  StudyInfo jane;
  jane.patientName = "DOE^JANE";
  jane.patientId = "12345";
  jane.accessionNumber = "0042";
  jane.patientSex = "F";
  jane.patientBirthDate = "19800512";
  const std::vector<StudyInfo> results = {jane};
  EXPECT_EQ(ChosenResultAt(results, 0), &results[0]);
  for (int row : {-1, 1, 2}) EXPECT_EQ(ChosenResultAt(results, row), nullptr) << row;
  EXPECT_EQ(ChosenResultAt({}, 0), nullptr);
  EXPECT_EQ(BatchForText(jane).English(), "Batch for DOE^JANE \u00B7 ID 12345 \u00B7 ACC 0042");
  const PatientFields fields = FieldsOfResult(jane);
  EXPECT_EQ(fields.sexIndex, 1);
  EXPECT_EQ(fields.birthDate, "19800512");
  // Without an accession number the batch generates one: the line does not pretend to know it.
  jane.accessionNumber.clear();
  jane.patientSex.clear();
  EXPECT_EQ(BatchForText(jane).English(), "Batch for DOE^JANE \u00B7 ID 12345");
  EXPECT_EQ(FieldsOfResult(jane).sexIndex, -1);
}

TEST_F(BatchTest, SaveWritesOneFilePerObjectNamedByItsInstanceUid) {
  const std::string out = (dir_ / "out").string();
  std::filesystem::create_directory(out);
  const std::vector<std::string> items = {Png("a.png"), Write("r.pdf", "%PDF-1.4 x"), Png("b.png")};
  std::vector<std::string> written;
  UserMessage message;
  ASSERT_TRUE(SaveBatch(form_, nullptr, items, settings_, out, written, message)) << message;
  ASSERT_EQ(written.size(), 3u);
  // Images first, then PDFs: the list order of sending and saving.
  const std::string expected[] = {BatchUIDRoot + ".10.1", BatchUIDRoot + ".10.3",
                                  BatchUIDRoot + ".1.2"};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(written[i], (std::filesystem::path(out) / (expected[i] + ".dcm")).string());
    DicomFile file;
    std::string error;
    ASSERT_TRUE(ReadDicomFile(written[i], file, error)) << error;
    EXPECT_EQ(file.meta.GetString(0x0002, 0x0003), expected[i]);
    EXPECT_EQ(file.dataSet.GetString(0x0008, 0x0018), expected[i]);
  }
}

TEST_F(BatchTest, WriteFailuresAreReportedPerFile) {
  BatchLists lists;
  UserMessage message;
  ASSERT_TRUE(PrepareBatch(form_, nullptr, 1, settings_, message));
  ASSERT_TRUE(ConvertItems({Png("a.png")}, lists, message));
  std::vector<std::string> written;
  EXPECT_FALSE(WriteBatch(lists, (dir_ / "missing" / "folder").string(), written, message));
  EXPECT_TRUE(written.empty());
  EXPECT_NE(message.English().find(BatchUIDRoot + ".10.1.dcm"), std::string::npos) << message;
  EXPECT_TRUE(lists.images.empty());
}

TEST_F(BatchTest, BatchesWithTheSamePatientAndAccessionWithinAMinuteGetNewUids) {
  form_.accessionNumber = "ACC42";
  std::set<std::string> instanceUids;
  std::set<std::string> roots;
  for (int batch = 0; batch < 5; ++batch) {
    UserMessage message;
    CurrentStudy.studyInstanceUid.clear();
    ASSERT_TRUE(PrepareBatch(form_, nullptr, 2, settings_, message));
    EXPECT_TRUE(roots.insert(BatchUIDRoot).second) << BatchUIDRoot;
    BatchLists lists;
    ASSERT_TRUE(ConvertItems({Png("a.png"), Png("b.png")}, lists, message)) << message;
    for (const auto& image : lists.images) {
      EXPECT_TRUE(instanceUids.insert(image->GetString(0x0008, 0x0018)).second);
    }
  }
}

TEST_F(BatchTest, HundredsOfItemsKeepEveryUidWithinSixtyFourCharacters) {
  form_.patientId = "PATIENT-ID-WITH-MANY-CHARACTERS";
  form_.accessionNumber = "ACCESSION-1234567890";
  const std::string png = Png("p.png");
  const std::string pdf = Write("p.pdf", "%PDF-1.4");
  std::vector<std::string> items;
  for (int i = 0; i < 300; ++i) items.push_back(i % 3 == 0 ? pdf : png);
  UserMessage message;
  ASSERT_TRUE(PrepareBatch(form_, nullptr, items.size(), settings_, message));
  BatchLists lists;
  ASSERT_TRUE(ConvertItems(items, lists, message)) << message;
  for (const DataSetList* list : {&lists.images, &lists.pdfs}) {
    for (const auto& dataSet : *list) {
      for (uint16_t element : {0x0018, 0x000D, 0x000E}) {
        const uint16_t group = element == 0x0018 ? 0x0008 : 0x0020;
        EXPECT_LE(dataSet->GetString(group, element).size(), 64u);
      }
    }
  }
  EXPECT_EQ(lists.images.back()->GetString(0x0020, 0x0013), "300");
}

// Pictures encoded on worker threads finish in any order; the files must not show it.
TEST_F(BatchTest, ParallelConversionWritesTheSameFilesAsSequentialConversion) {
  form_.accessionNumber = "ACC7";
  std::vector<std::string> items;
  for (uint32_t i = 0; i < 6; ++i) {
    // Large and small pictures alternate, so later ones are ready before earlier ones.
    const uint32_t side = i % 2 == 0 ? 400 : 16;
    items.push_back(
        Write("p" + std::to_string(i) + ".jpg", testpictures::MakeJpeg(side, side, false)));
    if (i == 1) items.push_back(Write("r.pdf", "%PDF-1.4 r"));
    if (i == 2) items.push_back(Write("empty.txt", ""));  // numbered, but gives no object
    if (i == 3) items.push_back(Write("notes.xyz", "skipped"));
    if (i == 4) items.push_back(Write("b.bmp", testpictures::MakeBmp(33, 17, 24, false)));
  }
  items.push_back(Write("report.txt", "Findings\r\nnone\r\n"));
  items.push_back(Png("last.png"));

  UserMessage message;
  ASSERT_TRUE(PrepareBatch(form_, nullptr, items.size(), settings_, message));
  // The clock texts of both runs agree only within one second; retry when it ticked meanwhile.
  for (int attempt = 0; attempt < 5; ++attempt) {
    const std::string before = NowText();
    std::vector<std::string> files[2];
    std::vector<std::string> skipped[2];
    for (unsigned run = 0; run < 2; ++run) {
      const auto out = dir_ / ("out" + std::to_string(attempt) + std::to_string(run));
      std::filesystem::create_directory(out);
      InstanceCounter = 0;
      BatchLists lists;
      ASSERT_TRUE(ConvertItems(items, lists, message, &skipped[run], run == 0 ? 1 : 3)) << message;
      std::vector<std::string> written;
      ASSERT_TRUE(WriteBatch(lists, out.string(), written, message)) << message;
      for (const std::string& path : written) files[run].push_back(testsupport::ReadFile(path));
    }
    if (NowText() != before) continue;
    EXPECT_EQ(skipped[1], skipped[0]);
    ASSERT_EQ(files[0].size(), 10u);
    ASSERT_EQ(files[1].size(), files[0].size());
    for (size_t i = 0; i < files[0].size(); ++i) EXPECT_TRUE(files[1][i] == files[0][i]) << i;
    EXPECT_EQ(InstanceCounter, 11);
    return;
  }
  FAIL() << "the clock ticked during every attempt";
}

// PDFs and videos are read from their files when they are written: one cut short in the meantime
// must fail by name, not be saved with other bytes, and not stop the rest.
TEST_F(BatchTest, ASourceCutShortAfterConversionIsNamedAndTheRestIsWritten) {
  // Long enough to stay in their files until written.
  const std::vector<std::string> items = {
      Write("cut.pdf", "%PDF-1.4\n" + std::string(1200001 - 9, 'c')),
      Write("whole.pdf", "%PDF-1.4\n" + std::string(1200001 - 9, 'w'))};
  UserMessage message;
  ASSERT_TRUE(PrepareBatch(form_, nullptr, items.size(), settings_, message));
  BatchLists lists;
  ASSERT_TRUE(ConvertItems(items, lists, message)) << message;
  std::filesystem::resize_file(items[0], 1000);
  const auto out = dir_ / "out";
  std::filesystem::create_directory(out);
  std::vector<std::string> written;
  EXPECT_FALSE(WriteBatch(lists, out.string(), written, message));
  EXPECT_NE(message.English().find(BatchUIDRoot + ".1.1.dcm"), std::string::npos) << message;
  ASSERT_EQ(written.size(), 1u);
  EXPECT_EQ(written[0], (out / (BatchUIDRoot + ".1.2.dcm")).string());
  DicomFile file;
  std::string error;
  ASSERT_TRUE(ReadDicomFile(written[0], file, error)) << error;
  std::string expected = "%PDF-1.4\n" + std::string(1200001 - 9, 'w');
  expected.push_back('\0');
  EXPECT_TRUE(file.dataSet.FindTag(0x0042, 0x0011)->Bytes() == expected);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(out), {}), 1);
}

// The piece by piece writer must produce exactly what encoding the whole file at once produces.
TEST_F(BatchTest, StreamedFilesEqualTheEncodersFiles) {
  std::string big(300001, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 13);
  big.replace(0, 5, "%PDF-");
  const std::vector<std::string> items = {
      Write("big.pdf", big), Write("small.pdf", "%PDF-1.4"),
      Write("big.bmp", testpictures::MakeBmp(300, 200, 24, false))};
  UserMessage message;
  ASSERT_TRUE(PrepareBatch(form_, nullptr, items.size(), settings_, message));
  BatchLists lists;
  ASSERT_TRUE(ConvertItems(items, lists, message)) << message;
  for (DataSetList* list : {&lists.pdfs, &lists.images}) {
    for (auto& dataSet : *list) {
      const auto streamed = dir_ / "streamed.dcm";
      const auto encoded = dir_ / "encoded.dcm";
      ASSERT_TRUE(SaveObjectFile(*dataSet, streamed.string()));
      BufData whole;
      ASSERT_TRUE(whole.WriteMetaHeader(dataSet->GetString(0x0008, 0x0016),
                                        dataSet->GetString(0x0008, 0x0018),
                                        dataSet->transferSyntax));
      ASSERT_TRUE(whole.WriteDataSet(*dataSet));
      ASSERT_TRUE(whole.SaveToFile(encoded.string()));
      EXPECT_EQ(testsupport::ReadFile(streamed), testsupport::ReadFile(encoded));
      EXPECT_FALSE(std::filesystem::exists(streamed.string() + ".part"));
    }
  }
}

}  // namespace
