// What the print capture tests send and run: print jobs over loopback, a small XPS package, and
// a private CUPS scheduler.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "printerplaces.h"
#include "testsupport.h"

namespace capturetest {

// Sends one job to 127.0.0.1:port the way the spooler's socket backend does: connect, send,
// close the sending side, then wait until the listener has read all and closed. False when the
// listener refused or cut the connection.
bool SendJob(int port, std::string_view job);

// Connects to 127.0.0.1:port, writes `job` and closes at once without waiting for the listener,
// as a sender of a small job does that wants no answer. False when it could not be written.
bool SendJobAndClose(int port, std::string_view job);

// A one-page XPS package (a ZIP file) with a red square.
std::string SmallXpsPackage();

// Points libcups, lpadmin and lp at the scheduler socket `socket` (the default one when empty).
void PointSpoolerAt(const std::filesystem::path& socket);

// Polls `done` every 2 ms until it is true or `limit` passes.
bool WaitUntil(const std::function<bool()>& done,
               std::chrono::milliseconds limit = std::chrono::seconds(30));

// The names of the files in `folder` (not the hidden part files), sorted.
std::vector<std::string> FileNames(const std::filesystem::path& folder);

// Sends the log, with debug lines, to a file of the test's own while it lives.
class CapturedLog {
 public:
  CapturedLog();
  ~CapturedLog();
  CapturedLog(const CapturedLog&) = delete;
  CapturedLog& operator=(const CapturedLog&) = delete;
  std::string Text() const;
  // The log file, for a test that must watch it without opening it.
  std::filesystem::path File() const { return temp_ / "test.log"; }
  bool Contains(const std::string& line) const { return Text().find(line) != std::string::npos; }

 private:
  testsupport::TempDir temp_;
};

// A CUPS scheduler of the test's own: its configuration, spool and socket in a temporary folder,
// listening on that socket and on a free loopback port, running as user lp. CUPS_SERVER points
// at it while it lives, so libcups, lpadmin and lp talk to it alone. Like Debian's, it knows the
// policy "authenticated", under which local users print as who they are.
class PrivateCupsd {
 public:
  // The policies it knows: Debian's, or only the default one, as a spooler set up by hand may.
  enum class Policies { LikeDebian, DefaultOnly };
  explicit PrivateCupsd(Policies policies = Policies::LikeDebian);
  ~PrivateCupsd();
  PrivateCupsd(const PrivateCupsd&) = delete;
  PrivateCupsd& operator=(const PrivateCupsd&) = delete;

  // False (with the scheduler's error log in `why`) when it did not come up.
  bool Running(std::string& why) const;
  const std::filesystem::path& folder() const { return temp_.path(); }
  std::string ErrorLog() const;

 private:
  testsupport::TempDir temp_;
  std::filesystem::path socket_;
  std::unique_ptr<testsupport::ChildProcess> process_;
  bool running_ = false;
};

// velloran-printer of the test's own, as root runs it: its socket and spool in a temporary
// folder that the spooler's backends (user lp) can pass.
class PrinterApplication {
 public:
  PrinterApplication();
  ~PrinterApplication();
  PrinterApplication(const PrinterApplication&) = delete;
  PrinterApplication& operator=(const PrinterApplication&) = delete;

  // Starts the program and waits until its socket is open to the spooler; false (with its log
  // in `why`) when it did not come up.
  bool Start(std::string& why);
  void Stop();
  pid_t pid() const { return process_ ? process_->pid() : -1; }
  const PrinterPlaces& places() const { return places_; }
  // The printer's URI for ipptool and lpadmin.
  std::string Uri() const { return PrinterApplicationUri(places_.socket); }
  // The folder of the spool that holds `user`'s jobs.
  std::filesystem::path UserFolder(uid_t user) const {
    return UserSpoolFolder(places_.spool, user);
  }
  std::string Log() const;

 private:
  testsupport::TempDir temp_;
  PrinterPlaces places_;
  std::unique_ptr<testsupport::ChildProcess> process_;
};

}  // namespace capturetest
