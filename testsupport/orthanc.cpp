// Orthanc as a whole PACS for tests.
#include "orthanc.h"

#include <chrono>

namespace testsupport {

constexpr const char* kWorklistPlugin = "/usr/share/orthanc/plugins/libModalityWorklists.so";

bool OrthancPacs::Available() {
  return HaveProgram("Orthanc") && std::filesystem::exists(kWorklistPlugin);
}

OrthancPacs::OrthancPacs(const TempDir& work, CalledAet calledAet, AnswerEncoding encoding) {
  dicomPort_ = FreePort();
  httpPort_ = FreePort();
  std::filesystem::create_directories(work / "orthanc-db");
  std::filesystem::create_directories(work / "worklists");
  worklists_ = work / "worklists";
  WriteFile(
      work / "orthanc.json",
      "{\n\"Name\": \"velloran-test\",\n\"DicomAet\": \"ORTHANC\",\n\"DefaultEncoding\": \"" +
          std::string(encoding == AnswerEncoding::Utf8 ? "Utf8" : "Latin1") +
          "\",\n"
          "\"DicomPort\": " +
          std::to_string(dicomPort_) + ",\n\"HttpPort\": " + std::to_string(httpPort_) +
          ",\n\"StorageDirectory\": \"" + (work / "orthanc-db").string() +
          "\",\n\"IndexDirectory\": \"" + (work / "orthanc-db").string() +
          "\",\n\"RemoteAccessAllowed\": false,\n\"AuthenticationEnabled\": false,\n" +
          "\"DicomCheckCalledAet\": " + (calledAet == CalledAet::MustMatch ? "true" : "false") +
          ",\n"
          // Orthanc answers C-FIND only from known modalities unless told otherwise.
          "\"DicomAlwaysAllowFind\": true,\n\"DicomAlwaysAllowFindWorklist\": true,\n"
          "\"Plugins\": [\"" +
          kWorklistPlugin + "\"],\n\"Worklists\": {\"Enable\": true, \"Database\": \"" +
          worklists_.string() + "\"}\n}\n");
  process_ = std::make_unique<ChildProcess>(
      std::vector<std::string>{"Orthanc", (work / "orthanc.json").string()},
      (work / "orthanc.log").string());
  running_ = process_->WaitListening(dicomPort_) && process_->WaitListening(httpPort_);
}

OrthancPacs::~OrthancPacs() = default;

std::string OrthancPacs::Get(const std::string& path) const {
  const CommandResult result = RunCommand(
      {"curl", "-s", "--max-time", "20", "http://127.0.0.1:" + std::to_string(httpPort_) + path});
  return result.exitCode == 0 ? result.output : std::string();
}

}  // namespace testsupport
