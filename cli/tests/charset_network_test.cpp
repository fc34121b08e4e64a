// Characters of every script through the command line: names and report texts sent to Orthanc and
// read back through its REST API and pydicom, saved objects checked by dciodvfy, and worklist
// entries in ISO_IR 144 and ISO_IR 192 served by wlmscpfs and by Orthanc.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "clirun.h"
#include "dicomfile.h"
#include "orthanc.h"
#include "testpictures.h"
#include "testsupport.h"
#include "uids.h"

namespace {

using clitest::Cli;
using testsupport::CommandResult;
using testsupport::RunCommand;
using testsupport::TempDir;
using testsupport::WriteFile;

// The names and texts of the round trips, in UTF-8.
const std::string kGreekName =
    "\xCE\x94\xCE\xB9\xCE\xBF\xCE\xBD\xCF\x8D\xCF\x83\xCE\xB9\xCE\xBF\xCF\x82^"
    "\xCE\x9D\xCE\xAF\xCE\xBA\xCE\xBF\xCF\x82";  // Διονύσιος^Νίκος
const std::string kCyrillicName =
    "\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD\xD0\xBE\xD0\xB2^\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD";  // Иванов^Иван
const std::string kLatin1Name = "M\xC3\xBCller^J\xC3\xBCrgen";  // Müller^Jürgen
// “Quoted” – 5 €: the characters Windows-1252 keeps in 0x80-0x9F, where ISO 8859-1 has controls.
const std::string kTypographic = "\xE2\x80\x9CQuoted\xE2\x80\x9D \xE2\x80\x93 5 \xE2\x82\xAC";

std::vector<std::string> Join(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::vector<std::string> CommonOptions(const TempDir& work) {
  return {"--log", (work / "velloran.log").string(), "--ini", (work / "none.ini").string()};
}

// A DOCX package whose one paragraph is `text`, zipped by Python's standard library.
std::string MakeDocx(const TempDir& work, const std::string& text) {
  const std::string path = (work / "report.docx").string();
  WriteFile(work / "document.xml",
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?><w:document xmlns:w=\"http://schemas."
            "openxmlformats.org/wordprocessingml/2006/main\"><w:body><w:p><w:r><w:t>" +
                text + "</w:t></w:r></w:p></w:body></w:document>");
  const CommandResult zipped = RunCommand(
      {"/usr/bin/python3", "-c",
       "import sys, zipfile\nwith zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:\n"
       "    z.write(sys.argv[2], 'word/document.xml')\n",
       path, (work / "document.xml").string()});
  EXPECT_EQ(zipped.exitCode, 0) << zipped.errors;
  return path;
}

// pydicom's reading of a file: the character set, the patient's name and, for a report, the text
// of its text item, one per line, decoded by pydicom itself.
std::string PydicomReads(const std::string& path) {
  const CommandResult read =
      RunCommand({"/usr/bin/python3", "-c",
                  "import sys, pydicom\nds = pydicom.dcmread(sys.argv[1])\n"
                  "out = [str(ds.get('SpecificCharacterSet', '')), str(ds.PatientName)]\n"
                  "if 'ContentSequence' in ds: out.append(ds.ContentSequence[1].TextValue)\n"
                  "sys.stdout.buffer.write('\\n'.join(out).encode('utf-8'))\n",
                  path});
  EXPECT_EQ(read.exitCode, 0) << read.errors;
  return read.output;
}

// A UTF-8 text as Orthanc's JSON writes it: every character beyond ASCII as a \u escape.
std::string AsJson(const std::string& utf8) {
  std::string json;
  for (size_t i = 0; i < utf8.size();) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    if (lead < 0x80) {
      json += lead == '\r' ? "\\r" : lead == '\n' ? "\\n" : std::string(1, utf8[i]);
      ++i;
      continue;
    }
    const size_t length = lead >= 0xE0 ? 3 : 2;  // the test's texts stay within U+FFFF
    uint32_t codePoint = lead & (length == 3 ? 0x0F : 0x1F);
    for (size_t k = 1; k < length; ++k) codePoint = codePoint << 6 | (utf8[i + k] & 0x3F);
    char escape[8];
    std::snprintf(escape, sizeof escape, "\\u%04x", codePoint);
    json += escape;
    i += length;
  }
  return json;
}

bool HavePythonDicom() {
  return RunCommand({"/usr/bin/python3", "-c", "import pydicom"}).exitCode == 0;
}

// Objects sent to Orthanc come back with the same characters through its REST API and, from the
// stored files, through pydicom; the same objects saved to a folder satisfy dciodvfy's check of
// the declared repertoire, and a Latin-1 name keeps the ISO 8859-1 bytes objects always had.
TEST(CharsetNetwork, NamesAndReportTextsSurviveOrthancPydicomAndDciodvfy) {
  ASSERT_TRUE(testsupport::OrthancPacs::Available() && HavePythonDicom() &&
              testsupport::HaveProgram("dciodvfy") && testsupport::HaveProgram("curl"))
      << "Orthanc, pydicom, dciodvfy or curl missing";
  TempDir work;
  testsupport::OrthancPacs pacs(work);
  ASSERT_TRUE(pacs.Running()) << testsupport::ReadFile(work / "orthanc.log");
  const std::string jpeg = (work / "photo.jpg").string();
  WriteFile(jpeg, testpictures::MakeJpeg(32, 24, false));
  const std::string docx = MakeDocx(work, kTypographic);

  const struct {
    std::string name;
    std::string id;
    const char* declared;
  } patients[] = {
      {kGreekName, "PID-GR", "ISO_IR 192"},
      {kCyrillicName, "PID-RU", "ISO_IR 192"},
      {kLatin1Name, "PID-DE", "ISO_IR 100"},
  };
  for (const auto& patient : patients) {
    SCOPED_TRACE(patient.id);
    const auto study = Join({"--patient-name", patient.name, "--patient-id", patient.id}, {});
    const CommandResult sent =
        Cli("send", Join(Join(Join(study, CommonOptions(work)),
                              {"--pacs-aet", "ORTHANC", "--pacs-port", pacs.Port()}),
                         {jpeg, docx}));
    ASSERT_EQ(sent.exitCode, 0) << sent.errors;
    const std::filesystem::path folder = work / patient.id;
    std::filesystem::create_directories(folder);
    const CommandResult saved = Cli("save", Join(study, {"--ini", (work / "none.ini").string(),
                                                         "--out", folder.string(), jpeg, docx}));
    ASSERT_EQ(saved.exitCode, 0) << saved.errors;

    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
      DicomFile file;
      std::string error;
      ASSERT_TRUE(ReadDicomFile(entry.path().string(), file, error)) << error;
      const bool report = file.dataSet.GetString(0x0008, 0x0060) == "SR";
      EXPECT_EQ(file.dataSet.GetString(0x0008, 0x0005),
                report ? "ISO_IR 192" : patient.declared);  // the report holds the euro sign
      if (std::string(patient.declared) == "ISO_IR 100" && !report) {
        EXPECT_EQ(file.dataSet.GetString(0x0010, 0x0010), "M\xFCller^J\xFCrgen");
      }
      const CommandResult verified = RunCommand({"dciodvfy", entry.path().string()});
      EXPECT_EQ((verified.output + verified.errors).find("Character invalid"), std::string::npos)
          << verified.output << verified.errors;
      const std::string pydicom = PydicomReads(entry.path().string());
      EXPECT_NE(pydicom.find("\n" + patient.name), std::string::npos) << pydicom;
      if (report) EXPECT_NE(pydicom.find(kTypographic), std::string::npos) << pydicom;
    }
  }

  // Orthanc's REST API gives every stored instance's tags in UTF-8.
  const std::string instances = pacs.Get("/instances?expand");
  ASSERT_FALSE(instances.empty());
  int stored = 0;
  for (size_t at = instances.find("\"ID\" : \""); at != std::string::npos;
       at = instances.find("\"ID\" : \"", at + 1)) {
    const size_t start = at + 8;
    const std::string id = instances.substr(start, instances.find('"', start) - start);
    const std::string tags = pacs.Get("/instances/" + id + "/simplified-tags");
    bool known = false;
    for (const auto& patient : patients) {
      known = known ||
              tags.find("\"PatientName\" : \"" + AsJson(patient.name) + "\"") != std::string::npos;
    }
    EXPECT_TRUE(known) << tags;
    if (tags.find("\"Modality\" : \"SR\"") != std::string::npos) {
      EXPECT_NE(tags.find("\"TextValue\" : \"\\r\\n" + AsJson(kTypographic) + "\\r\\n\""),
                std::string::npos)
          << tags;
    }
    const std::string copy = (work / (id + ".dcm")).string();
    ASSERT_EQ(RunCommand({"curl", "-s", "-o", copy,
                          "http://127.0.0.1:" + std::to_string(pacs.HttpPort()) + "/instances/" +
                              id + "/file"})
                  .exitCode,
              0);
    const std::string pydicom = PydicomReads(copy);
    bool read = false;
    for (const auto& patient : patients)
      read = read || pydicom.find(patient.name) != std::string::npos;
    EXPECT_TRUE(read) << pydicom;
    ++stored;
  }
  EXPECT_EQ(stored, 6);
}

// Worklist entries in ISO_IR 144 (ISO 8859-5) and in ISO_IR 192, as wlmscpfs and Orthanc serve
// them, reach `find --worklist --json` with their names intact.
TEST(CharsetNetwork, WorklistEntriesInOtherCharacterSetsAreFoundIntact) {
  ASSERT_TRUE(testsupport::HaveProgram("wlmscpfs") && testsupport::HaveProgram("dump2dcm"))
      << "wlmscpfs or dump2dcm missing";
  TempDir work;
  const auto entry = [](const std::string& characterSet, const std::string& accession,
                        const std::string& name, const std::string& description) {
    return "(0008,0005) CS [" + characterSet + "]\n(0008,0050) SH [" + accession +
           "]\n(0010,0010) PN [" + name + "]\n(0010,0020) LO [PID-" + accession +
           "]\n(0010,0030) DA [19700215]\n(0010,0040) CS [M]\n(0020,000d) UI "
           "[1.2.826.0.1.3680043.10.9" +
           accession.substr(3) +
           "]\n(0032,1060) LO [X]\n(0040,0100) SQ\n(fffe,e000) -\n(0008,0060) CS [CR]\n"
           "(0040,0001) AE [STATION1]\n(0040,0002) DA [20240301]\n(0040,0003) TM [101500]\n"
           "(0040,0007) LO [" +
           description +
           "]\n(0040,0009) SH [SPS1]\n(fffe,e00d) -\n(fffe,e0dd) -\n(0040,1001) SH [RP1]\n";
  };
  // Иванов^Иван and Снимок in ISO 8859-5; the second entry in UTF-8.
  const std::string cyrillic =
      entry("ISO_IR 144", "WL-144", "\xB8\xD2\xD0\xDD\xDE\xD2^\xB8\xD2\xD0\xDD",
            "\xC1\xDD\xD8\xDC\xDE\xDA");
  const std::string unicode = entry("ISO_IR 192", "WL-192", kGreekName, kTypographic);
  // Dates as the options take them, whatever the desktop's date format.
  const std::string expectedCyrillic =
      "{\"name\":\"" + kCyrillicName +
      "\",\"id\":\"PID-WL-144\",\"sex\":\"M\",\"birthDate\":\"19700215\","
      "\"studyDescription\":\"\xD0\xA1\xD0\xBD\xD0\xB8\xD0\xBC\xD0\xBE\xD0\xBA\","
      "\"studyDate\":\"20240301\"";
  const std::string expectedGreek = "{\"name\":\"" + kGreekName +
                                    "\",\"id\":\"PID-WL-192\",\"sex\":\"M\","
                                    "\"birthDate\":\"19700215\",\"studyDescription\":\"" +
                                    kTypographic + "\",\"studyDate\":\"20240301\"";

  const auto writeEntries = [&](const std::filesystem::path& folder) {
    std::filesystem::create_directories(folder);
    int index = 0;
    for (const std::string& text : {cyrillic, unicode}) {
      const auto dump = work / ("entry" + std::to_string(++index) + ".txt");
      WriteFile(dump, text);
      ASSERT_EQ(RunCommand({"dump2dcm", dump.string(),
                            (folder / ("entry" + std::to_string(index) + ".wl")).string()})
                    .exitCode,
                0);
    }
  };

  struct Server {
    const char* name;
    std::string aet;
    std::string port;
  };
  std::vector<Server> servers;

  // wlmscpfs returns the entry's own character set only when told to keep it (-csk).
  writeEntries(work / "wlm" / "WORKLIST");
  WriteFile(work / "wlm" / "WORKLIST" / "lockfile", "");
  const int wlmPort = testsupport::FreePort();
  testsupport::ChildProcess wlmscpfs(
      {"wlmscpfs", "-csk", "-dfp", (work / "wlm").string(), std::to_string(wlmPort)},
      (work / "wlmscpfs.log").string());
  ASSERT_TRUE(testsupport::WaitForPort(wlmPort, std::chrono::seconds(20)));
  servers.push_back({"wlmscpfs", "WORKLIST", std::to_string(wlmPort)});

  ASSERT_TRUE(testsupport::OrthancPacs::Available()) << "Orthanc or its worklist plugin missing";
  // Orthanc answers in its default encoding whatever the query declares, so it is told to use
  // UTF-8, as a site with such names would.
  testsupport::OrthancPacs orthanc(work, testsupport::OrthancPacs::CalledAet::Any,
                                   testsupport::OrthancPacs::AnswerEncoding::Utf8);
  ASSERT_TRUE(orthanc.Running()) << testsupport::ReadFile(work / "orthanc.log");
  writeEntries(orthanc.Worklists());
  servers.push_back({"Orthanc", "ORTHANC", orthanc.Port()});

  for (const Server& server : servers) {
    SCOPED_TRACE(server.name);
    const CommandResult found =
        Cli("find", Join(CommonOptions(work), {"--worklist", "--wl-aet", server.aet, "--wl-port",
                                               server.port, "--to", "20240301", "--json"}));
    EXPECT_EQ(found.exitCode, 0) << found.errors;
    EXPECT_NE(found.output.find(expectedCyrillic), std::string::npos) << found.output;
    EXPECT_NE(found.output.find(expectedGreek), std::string::npos) << found.output;
  }
}

}  // namespace
