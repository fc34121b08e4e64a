// Orthanc as a whole PACS for tests: DICOM and REST on free loopback ports, the worklist plugin
// serving a folder of entries, optionally DICOMweb and a login, everything in a temporary folder.
#pragma once

#include <filesystem>
#include <memory>
#include <set>
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

  struct Options {
    CalledAet calledAet = CalledAet::Any;
    AnswerEncoding encoding = AnswerEncoding::Latin1;
    bool dicomWeb = false;  // the DICOMweb plugin at /dicom-web/ of the HTTP port
    // When set, the HTTP port (REST and DICOMweb) requires this login.
    std::string user;
    std::string password;
    // When set, a modality Orthanc knows by this AE title at 127.0.0.1:modalityPort (where it
    // sends its storage commitment reports, for one).
    std::string modalityAet;
    int modalityPort = 0;
    // The DICOM port to listen on; 0 takes a free one. A test that queued objects for a PACS
    // that was down starts it on the port it was meant to have.
    int dicomPort = 0;
    // How long Orthanc waits for the rest of a message before it drops the association; 0 keeps
    // its default (30 s).
    int scpTimeoutSeconds = 0;

    // The options of a PACS that knows `aet` as a modality at `port`, where it reports storage
    // commitment.
    static Options ReportingTo(const std::string& aet, int port) {
      Options options;
      options.modalityAet = aet;
      options.modalityPort = port;
      return options;
    }
  };
  OrthancPacs(const TempDir& work, const Options& options);
  ~OrthancPacs();
  OrthancPacs(const OrthancPacs&) = delete;
  OrthancPacs& operator=(const OrthancPacs&) = delete;

  // True when Orthanc and its worklist plugin are installed; the second also needs the DICOMweb
  // plugin.
  static bool Available();
  static bool DicomWebAvailable();

  bool Running() const { return running_; }
  std::string Port() const { return std::to_string(dicomPort_); }
  int HttpPort() const { return httpPort_; }
  const std::filesystem::path& Worklists() const { return worklists_; }
  // What the REST API answers for a GET of `path` ("/studies", say); empty when it fails.
  std::string Get(const std::string& path) const;
  // The SOP Instance UIDs of the instances Orthanc holds (one per instance).
  std::multiset<std::string> InstanceUids() const;
  // The DICOMweb service root, "http://127.0.0.1:PORT/dicom-web". (Debian's Orthanc 1.10 ends
  // with a segmentation fault on its first https request, so tests of https put a TLS relay in
  // front of it.)
  std::string WebUrl() const;

 private:
  Options options_;
  int dicomPort_ = 0;
  int httpPort_ = 0;
  bool running_ = false;
  std::filesystem::path worklists_;
  std::unique_ptr<ChildProcess> process_;
};

}  // namespace testsupport
