// Orthanc as a whole PACS for tests: DICOM and REST on free loopback ports, the worklist plugin
// serving a folder of entries, everything in a temporary folder.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "testsupport.h"

namespace testsupport {

class OrthancPacs {
 public:
  // Whether Orthanc refuses associations addressed to another AE title than "ORTHANC".
  enum class CalledAet { Any, MustMatch };

  // Starts Orthanc with its data, configuration and log in `work`; Running() tells whether its
  // DICOM port came up. Orthanc answers C-FIND in its default encoding whatever the query
  // declares: Latin1 (its own default) narrows other scripts away, Utf8 keeps them.
  enum class AnswerEncoding { Latin1, Utf8 };
  explicit OrthancPacs(const TempDir& work, CalledAet calledAet = CalledAet::Any,
                       AnswerEncoding encoding = AnswerEncoding::Latin1);
  ~OrthancPacs();
  OrthancPacs(const OrthancPacs&) = delete;
  OrthancPacs& operator=(const OrthancPacs&) = delete;

  // True when Orthanc and its worklist plugin are installed.
  static bool Available();

  bool Running() const { return running_; }
  std::string Port() const { return std::to_string(dicomPort_); }
  int HttpPort() const { return httpPort_; }
  const std::filesystem::path& Worklists() const { return worklists_; }
  // What the REST API answers for a GET of `path` ("/studies", say); empty when it fails.
  std::string Get(const std::string& path) const;

 private:
  int dicomPort_ = 0;
  int httpPort_ = 0;
  bool running_ = false;
  std::filesystem::path worklists_;
  std::unique_ptr<ChildProcess> process_;
};

}  // namespace testsupport
