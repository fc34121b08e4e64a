// velloran-cli store: existing DICOM Part 10 files stored on the PACS as they are.
#include <cstdio>
#include <string>

#include "args.h"
#include "commitoptions.h"
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
        "\n") +
    kCommitOptionsUsage + kNetworkOptionsUsage + kWebOptionsUsage;

int Usage(const std::string& problem) {
  std::fprintf(stderr, "velloran-cli store: %s\n%s", problem.c_str(), kUsage.c_str());
  return 2;
}

// Storage commitment of the files just stored, named by their paths in the report.
bool CommitStoredFiles(const std::vector<std::string>& paths, const RemoteNode& node,
                       const CommitChoice& choice) {
  std::vector<CommitmentObject> objects;
  std::vector<std::string> labels;
  for (const std::string& path : paths) {
    Part10Header header;
    std::string error;
    if (!ReadPart10Header(path, header, error)) continue;
    objects.push_back({header.sopClassUid, header.sopInstanceUid});
    labels.push_back(path);
  }
  return !objects.empty() && CommitAndReport(objects, labels, node, choice);
}

int RunStore(const std::vector<std::string>& args) {
  const ParsedArgs parsed(args, WebValuedOptions(NetworkValuedOptions(CommitValuedOptions())),
                          WebFlags(NetworkFlags(CommitFlags())));
  if (!parsed.ok()) return Usage(parsed.error());
  if (parsed.Positional().empty()) return Usage("no file given");
  SetupConfig settings;
  std::string error;
  if (!LoadNetworkSettings(parsed, settings, error)) return Usage(error);
  CommitChoice commit;
  if (!CommitChoiceFromOptions(parsed, settings, WantsDicomWeb(parsed, settings), commit, error)) {
    return Usage(error);
  }

  ProgressLine progress;
  auto report = [&](const std::string& path, size_t index, size_t total, bool stored) {
    progress.Show(index + 1, total, path + (stored ? " stored" : " FAILED"));
  };
  std::vector<std::string> errors;
  std::vector<std::string> storedPaths;
  bool stored = false;
  if (WantsDicomWeb(parsed, settings)) {
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
    if (commit.wanted && !storedPaths.empty()) {
      stored = CommitStoredFiles(storedPaths, pacs, commit) && stored;
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
