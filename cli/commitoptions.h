// The storage commitment options of the verbs that store (send, store) and the report of what the
// PACS committed.
#pragma once

#include <chrono>
#include <set>
#include <string>
#include <vector>

#include "args.h"
#include "commitment.h"
#include "remotenode.h"
#include "settings.h"

// --commit-port PORT and --commit-wait SECONDS; the flag --commit.
std::set<std::string> CommitValuedOptions(std::set<std::string> own = {});
std::set<std::string> CommitFlags(std::set<std::string> own = {});

extern const char* const kCommitOptionsUsage;

struct CommitChoice {
  bool wanted = false;             // --commit, or storageCommitment in the settings
  std::string listenPort;          // --commit-port, or commitmentPort
  std::chrono::seconds limit{60};  // --commit-wait
};

// False, with `error`, when --commit-wait is no positive number of seconds or --commit is asked
// of a DICOMweb PACS.
bool CommitChoiceFromOptions(const ParsedArgs& parsed, const SetupConfig& settings, bool dicomWeb,
                             CommitChoice& choice, std::string& error);

// Asks for commitment of the stored objects and prints "committed INSTANCE" on standard output
// for each one the PACS committed, a line naming each other one (by its label) and the cause on
// standard error, and a count. True when every object was committed.
bool CommitAndReport(const std::vector<CommitmentObject>& objects,
                     const std::vector<std::string>& labels, const RemoteNode& node,
                     const CommitChoice& choice);
