// The scripted HTTP server (scripted_server.py) as a test peer: answers set by the test, every
// request recorded.
#pragma once

#include <memory>
#include <string>

#include "testsupport.h"

class ScriptedWebServer {
 public:
  // `script` is the JSON of scripted_server.py: {"answers": [...], "authorization": "..."}. With
  // a certificate and its key (PEM files) it speaks https.
  explicit ScriptedWebServer(const std::string& script, const std::string& certificate = "",
                             const std::string& key = "");

  bool Running() const { return running_; }
  std::string Url() const {
    return (https_ ? "https" : "http") + std::string("://127.0.0.1:") + std::to_string(port_) +
           "/dicom-web";
  }
  // Requests seen so far, and the n-th (from 1): its request line and headers, and its body.
  int RequestCount() const;
  std::string Request(int number) const;
  std::string Body(int number) const;

 private:
  testsupport::TempDir folder_;
  int port_ = 0;
  bool running_ = false;
  bool https_ = false;
  std::unique_ptr<testsupport::ChildProcess> process_;
};
