// The storage commitment options and report of the storing verbs.
#include "commitoptions.h"

#include <cstdio>

#include "commitmentlistener.h"
#include "send.h"

const char* const kCommitOptionsUsage =
    "Storage commitment (a DICOM PACS only):\n"
    "  --commit             after storing, ask the PACS to commit the stored objects (also\n"
    "                       when the settings' storageCommitment is on) and print\n"
    "                       \"committed INSTANCE\" for each one it commits; the exit status is\n"
    "                       0 only when every object was stored and committed\n"
    "  --commit-port PORT   where the PACS calls back with its report (commitmentPort);\n"
    "                       without one, the report must come on the same association\n"
    "  --commit-wait SEC    how long to wait for the report (default 60)\n";

std::set<std::string> CommitValuedOptions(std::set<std::string> own) {
  own.insert({"commit-port", "commit-wait"});
  return own;
}

std::set<std::string> CommitFlags(std::set<std::string> own) {
  own.insert("commit");
  return own;
}

bool CommitChoiceFromOptions(const ParsedArgs& parsed, const SetupConfig& settings, bool dicomWeb,
                             CommitChoice& choice, std::string& error) {
  choice.wanted = parsed.Has("commit") || (settings.storageCommitment && !dicomWeb);
  choice.listenPort = parsed.ValueOr("commit-port", settings.commitmentPort);
  const std::string wait = parsed.ValueOr("commit-wait", "60");
  if (wait.empty() || wait.size() > 6 ||
      wait.find_first_not_of("0123456789") != std::string::npos || std::stol(wait) == 0) {
    error = "--commit-wait needs a number of seconds";
    return false;
  }
  choice.limit = std::chrono::seconds(std::stol(wait));
  if (choice.wanted && dicomWeb) {
    error = "storage commitment needs a DICOM PACS, not DICOMweb";
    return false;
  }
  return true;
}

bool CommitAndReport(const std::vector<CommitmentObject>& objects,
                     const std::vector<std::string>& labels, const RemoteNode& node,
                     const CommitChoice& choice) {
  CommitmentResult result;
  std::string error;
  if (!CommitObjects(node, objects, choice.listenPort, kSendTimeoutSeconds, choice.limit, result,
                     error)) {
    std::fprintf(stderr, "ERROR, storage commitment: %s\n", error.c_str());
    return false;
  }
  size_t committed = 0;
  for (size_t i = 0; i < objects.size(); ++i) {
    const CommitmentOutcome* outcome = result.Find(objects[i].sopInstanceUid);
    if (outcome != nullptr && outcome->committed) {
      ++committed;
      std::printf("committed %s\n", objects[i].sopInstanceUid.c_str());
    } else {
      std::fprintf(stderr, "ERROR, %s not committed: %s\n", labels[i].c_str(),
                   outcome != nullptr ? outcome->cause.c_str() : "not reported");
    }
  }
  std::printf("%zu of %zu objects committed by the PACS\n", committed, objects.size());
  return committed == objects.size();
}
