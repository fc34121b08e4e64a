// velloran-cli store: existing DICOM Part 10 files stored on the PACS as they are.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "args.h"
#include "commitmentlistener.h"
#include "failurecause.h"
#include "log.h"
#include "netoptions.h"
#include "send.h"
#include "sendweb.h"
#include "storefiles.h"
#include "verbs.h"
#include "weboptions.h"

namespace {

const std::string kUsage =
    std::string(
        "usage: velloran-cli store [network options] FILE.dcm...\n"
        "\n"
        "Stores existing DICOM Part 10 files on the PACS with C-STORE, one association per SOP\n"
        "class and transfer syntax. Each file is proposed in its own transfer syntax; when the\n"
        "PACS accepts that, the data set is sent byte for byte from the file without being held\n"
        "in memory; otherwise it is converted to what the PACS accepted. A file without meta\n"
        "group is proposed in the encoding its first element shows, with the class and instance\n"
        "of its data set; a deflated file is sent deflated when the PACS takes that, inflated\n"
        "otherwise, and a big-endian file of any SOP class as it is, or in Explicit VR Little\n"
        "Endian. Prints one line per file that was not stored. Exits 0 when every file was\n"
        "stored, 1 otherwise, 2 for wrong arguments.\n"
        "To a DICOMweb PACS the files go by STOW-RS as they are, several in one request, each\n"
        "read from disk while it is sent.\n"
        "  --commit             then ask the PACS for storage commitment of the stored files\n"
        "                       (also when the settings' storageCommitment is on) and print\n"
        "                       \"committed INSTANCE\" for each one it commits; the exit status\n"
        "                       is 0 only when every file was stored and committed\n"
        "  --commit-port PORT   where the PACS calls back with its report (commitmentPort);\n"
        "                       without one, the report must come on the same association\n"
        "  --commit-wait SEC    how long to wait for the report (default 60)\n\n") +
    kNetworkOptionsUsage + kWebOptionsUsage;

int Usage(const std::string& problem) {
  std::fprintf(stderr, "velloran-cli store: %s\n%s", problem.c_str(), kUsage.c_str());
  return 2;
}

// Storage commitment of the files just stored: one line per file on standard output when it is
// committed, on standard error when not. True when every one was committed.
bool CommitStoredFiles(const std::vector<std::string>& paths, const RemoteNode& node,
                       const std::string& listenPort, std::chrono::seconds limit) {
  std::vector<CommitmentObject> objects;
  std::vector<std::string> objectPaths;
  for (const std::string& path : paths) {
    Part10Header header;
    std::string error;
    if (!ReadPart10Header(path, header, error)) continue;
    objects.push_back({header.sopClassUid, header.sopInstanceUid});
    objectPaths.push_back(path);
  }
  if (objects.empty()) return false;
  CommitmentResult result;
  std::string error;
  if (!CommitObjects(node, objects, listenPort, kSendTimeoutSeconds, limit, result, error)) {
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
      std::fprintf(stderr, "ERROR, %s not committed: %s\n", objectPaths[i].c_str(),
                   outcome ? outcome->cause.c_str() : "not reported");
    }
  }
  std::printf("%zu of %zu objects committed by the PACS\n", committed, objects.size());
  return committed == objects.size();
}

int RunStore(const std::vector<std::string>& args) {
  const ParsedArgs parsed(args,
                          WebValuedOptions(NetworkValuedOptions({"commit-port", "commit-wait"})),
                          WebFlags(NetworkFlags({"commit"})));
  if (!parsed.ok()) return Usage(parsed.error());
  if (parsed.Positional().empty()) return Usage("no file given");
  SetupConfig settings;
  std::string error;
  if (!LoadNetworkSettings(parsed, settings, error)) return Usage(error);
  const bool commit = parsed.Has("commit") || settings.storageCommitment;
  const std::string commitWait = parsed.ValueOr("commit-wait", "60");
  const long waitSeconds = std::strtol(commitWait.c_str(), nullptr, 10);
  if (commit &&
      (waitSeconds <= 0 || commitWait.find_first_not_of("0123456789") != std::string::npos)) {
    return Usage("--commit-wait needs a number of seconds");
  }

  ProgressLine progress;
  auto report = [&](const std::string& path, size_t index, size_t total, bool stored) {
    progress.Show(index + 1, total, path + (stored ? " stored" : " FAILED"));
  };
  std::vector<std::string> errors;
  std::vector<std::string> storedPaths;
  bool stored = false;
  if (WantsDicomWeb(parsed, settings)) {
    if (parsed.Has("commit")) return Usage("storage commitment needs a DICOM PACS, not DICOMweb");
    DicomWebServer web;
    if (!WebPacsFromOptions(parsed, settings, web, error)) return Usage(error);
    stored = StoreFilesWeb(parsed.Positional(), web, errors, report);
  } else {
    const RemoteNode pacs = PacsFromOptions(parsed, settings);
    stored = StoreFiles(parsed.Positional(), pacs, kSendTimeoutSeconds, errors,
                        [&](const std::string& path, size_t index, size_t total, bool ok) {
                          if (ok) storedPaths.push_back(path);
                          report(path, index, total, ok);
                        });
    progress.Finish();
    for (const std::string& line : errors) std::fprintf(stderr, "ERROR, %s\n", line.c_str());
    errors.clear();
    if (commit && !storedPaths.empty()) {
      const bool committed = CommitStoredFiles(
          storedPaths, pacs, parsed.ValueOr("commit-port", settings.commitmentPort),
          std::chrono::seconds(waitSeconds));
      stored = stored && committed;
    }
  }
  progress.Finish();
  for (const std::string& line : errors) std::fprintf(stderr, "ERROR, %s\n", line.c_str());
  if (!stored) PrintFailureCause();
  if (!stored && !LogFilePath().empty()) {
    std::fprintf(stderr, "log file: %s\n", LogFilePath().c_str());
  }
  return stored ? 0 : 1;
}

const VerbRegistrar kRegistrar({"store", "store existing DICOM files on the PACS as they are",
                                kUsage.c_str(), RunStore});

}  // namespace
