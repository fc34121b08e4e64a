// A listener on a free loopback port with a work folder, an item list and a log of the test's
// own, for the listener tests.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <regex>
#include <string>

#include "capturepeers.h"
#include "serverthread.h"

namespace capturetest {

class ListenerFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(work_);
    // No scheduler answers here: every document name is "Unknown".
    PointSpoolerAt(temp_ / "no-spooler.sock");
  }
  void TearDown() override {
    if (server_) server_->Stop();
    PointSpoolerAt({});
  }

  void StartServer(CaptureLimits limits = {}, std::filesystem::path folder = {}) {
    port_ = testsupport::FreePort();
    server_ =
        std::make_unique<ServerThread>(folder.empty() ? work_ : folder, items_, *counter_, limits);
    ASSERT_TRUE(server_->Start(std::to_string(port_)));
  }

  // Matches one name of the work folder; empty when none or several match.
  std::string OnlyFileLike(const std::string& pattern) const {
    std::string found;
    for (const std::string& name : FileNames(work_)) {
      if (!std::regex_match(name, std::regex(pattern))) continue;
      if (!found.empty()) return {};
      found = name;
    }
    return found;
  }

  testsupport::TempDir temp_;
  std::filesystem::path work_ = temp_ / "work";
  CapturedLog log_;
  ItemList items_;
  std::unique_ptr<JobCounter> counter_ = std::make_unique<JobCounter>();
  std::unique_ptr<ServerThread> server_;
  int port_ = 0;
};

}  // namespace capturetest
