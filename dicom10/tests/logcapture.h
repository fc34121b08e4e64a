// Sends the log to a temporary file for the life of a test and reads back what was written.
#pragma once

#include <string>

#include "log.h"
#include "testsupport.h"

class LogCapture {
 public:
  LogCapture() { SetLogTarget((folder_ / "test.log").string(), "", ""); }
  ~LogCapture() { ReleaseLogTarget(); }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::string Text() const {
    std::error_code error;
    if (!std::filesystem::exists(folder_ / "test.log", error)) return {};
    return testsupport::ReadFile(folder_ / "test.log");
  }
  bool Contains(const std::string& piece) const { return Text().find(piece) != std::string::npos; }
  const std::filesystem::path& Folder() const { return folder_.path(); }

 private:
  testsupport::TempDir folder_;
};
