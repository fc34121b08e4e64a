// What the network verbs share: the settings with their command-line overrides, the log file,
// and progress lines on a terminal.
#pragma once

#include <cstdio>
#include <set>
#include <string>

#include "args.h"
#include "remotenode.h"
#include "settings.h"

// Options every network verb accepts, beside its own.
std::set<std::string> NetworkValuedOptions(std::set<std::string> own = {});
std::set<std::string> NetworkFlags(std::set<std::string> own = {});

// The usage lines of those options, for the verbs' help texts.
extern const char* const kNetworkOptionsUsage;

// Loads the settings file (velloran.ini beside the program, or --ini), applies --aet, --pacs-*,
// --wl-* and sends the log to logs/yyyymmdd_doc.log beside the program (or --log). False, with
// `error`, when the settings file cannot be read or the options contradict each other.
bool LoadNetworkSettings(const ParsedArgs& parsed, SetupConfig& settings, std::string& error);

// The PACS and the worklist server from the settings, with the TLS options applied.
RemoteNode PacsFromOptions(const ParsedArgs& parsed, const SetupConfig& settings);
RemoteNode WorklistFromOptions(const ParsedArgs& parsed, const SetupConfig& settings);

// Progress lines "[n/total] text", rewritten in place, on whichever of standard error and
// standard output is a terminal; nothing when neither is (a pipe or file gets no clutter).
class ProgressLine {
 public:
  ProgressLine();
  ~ProgressLine();
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;
  void Show(size_t done, size_t total, const std::string& text);
  // Ends the line, so that what is printed next starts on a line of its own.
  void Finish();

 private:
  std::FILE* stream_ = nullptr;
  bool shown_ = false;
};
