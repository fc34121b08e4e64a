// Sends the process log to a temporary file for the length of a test, so a test can read it.
#pragma once

#include <string>

#include "log.h"
#include "testsupport.h"

class CapturedLog {
 public:
  CapturedLog() { SetLogTarget((folder_ / "test.log").string(), "", ""); }
  ~CapturedLog() { ReleaseLogTarget(); }
  CapturedLog(const CapturedLog&) = delete;
  CapturedLog& operator=(const CapturedLog&) = delete;

  std::string Text() const { return testsupport::ReadFile(folder_ / "test.log"); }
  bool Contains(const std::string& text) const { return Text().find(text) != std::string::npos; }

 private:
  testsupport::TempDir folder_;
};
