// Orthanc as a whole PACS for tests.
#include "orthanc.h"

#include <chrono>

namespace testsupport {

constexpr const char* kWorklistPlugin = "/usr/share/orthanc/plugins/libModalityWorklists.so";
constexpr const char* kDicomWebPlugin = "/usr/share/orthanc/plugins/libOrthancDicomWeb.so";

bool OrthancPacs::Available() {
  return HaveProgram("Orthanc") && std::filesystem::exists(kWorklistPlugin);
}

bool OrthancPacs::DicomWebAvailable() {
  return Available() && std::filesystem::exists(kDicomWebPlugin);
}

OrthancPacs::OrthancPacs(const TempDir& work, CalledAet calledAet, AnswerEncoding encoding)
    : OrthancPacs(work, Options{calledAet, encoding}) {}

OrthancPacs::OrthancPacs(const TempDir& work, const Options& options) : options_(options) {
  const CalledAet calledAet = options.calledAet;
  const AnswerEncoding encoding = options.encoding;
  dicomPort_ = options.dicomPort != 0 ? options.dicomPort : FreePort();
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
          "\",\n\"RemoteAccessAllowed\": false,\n" +
          "\"DicomCheckCalledAet\": " + (calledAet == CalledAet::MustMatch ? "true" : "false") +
          ",\n"
          // Orthanc answers C-FIND only from known modalities unless told otherwise.
          "\"DicomAlwaysAllowFind\": true,\n\"DicomAlwaysAllowFindWorklist\": true,\n" +
          (options.scpTimeoutSeconds == 0
               ? std::string()
               : "\"DicomScpTimeout\": " + std::to_string(options.scpTimeoutSeconds) + ",\n") +
          "\"Plugins\": [\"" + kWorklistPlugin + "\"" +
          (options.dicomWeb ? std::string(", \"") + kDicomWebPlugin + "\"" : std::string()) +
          "],\n\"Worklists\": {\"Enable\": true, \"Database\": \"" + worklists_.string() +
          "\"},\n"
          // Names match regardless of case in QIDO-RS as they do in Orthanc's C-FIND.
          "\"DicomWeb\": {\"Enable\": " +
          (options.dicomWeb ? "true" : "false") +
          ", \"Root\": \"/dicom-web/\", \"QidoCaseSensitive\": false},\n" +
          (options.modalityAet.empty()
               ? std::string()
               : "\"DicomModalities\": {\"caller\": [\"" + options.modalityAet +
                     "\", \"127.0.0.1\", " + std::to_string(options.modalityPort) + "]},\n") +
          "\"AuthenticationEnabled\": " + (options.user.empty() ? "false" : "true") +
          ",\n\"RegisteredUsers\": {" +
          (options.user.empty() ? std::string()
                                : "\"" + options.user + "\": \"" + options.password + "\"") +
          "}\n}\n");
  process_ = std::make_unique<ChildProcess>(
      std::vector<std::string>{"Orthanc", (work / "orthanc.json").string()},
      (work / "orthanc.log").string());
  running_ = process_->WaitListening(dicomPort_) && process_->WaitListening(httpPort_);
}

OrthancPacs::~OrthancPacs() = default;

std::string OrthancPacs::Get(const std::string& path) const {
  std::vector<std::string> argv = {"curl", "-s", "--max-time", "20"};
  if (!options_.user.empty())
    argv.insert(argv.end(), {"-u", options_.user + ":" + options_.password});
  argv.push_back("http://127.0.0.1:" + std::to_string(httpPort_) + path);
  const CommandResult result = RunCommand(argv);
  return result.exitCode == 0 ? result.output : std::string();
}

std::multiset<std::string> OrthancPacs::InstanceUids() const {
  std::multiset<std::string> uids;
  const std::string ids = Get("/instances");
  for (size_t at = ids.find('"'); at != std::string::npos; at = ids.find('"', at + 1)) {
    const size_t end = ids.find('"', at + 1);
    if (end == std::string::npos) break;
    const std::string uid =
        Get("/instances/" + ids.substr(at + 1, end - at - 1) + "/content/0008-0018");
    uids.insert(uid.substr(0, uid.find_last_not_of(std::string("\0 \n", 3)) + 1));
    at = end;
  }
  return uids;
}

std::string OrthancPacs::WebUrl() const {
  return "http://127.0.0.1:" + std::to_string(httpPort_) + "/dicom-web";
}

}  // namespace testsupport
