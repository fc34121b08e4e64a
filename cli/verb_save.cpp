// velloran-cli save: one batch of files converted into DICOM objects and written to a folder.
#include <cstdio>
#include <filesystem>

#include "args.h"
#include "batch.h"
#include "failurecause.h"
#include "log.h"
#include "savestream.h"
#include "settings.h"
#include "studyoptions.h"
#include "verbs.h"

namespace {

constexpr const char* kUsage =
    "usage: velloran-cli save --out DIR --patient-name N --patient-id ID [--sex M|F|O]\n"
    "         [--birth-date YYYYMMDD] [--accession A] [--study-description D]\n"
    "         [--study-date YYYYMMDD] [--study-uid UID] [--referring NAME] [--modality M]\n"
    "         [--keep-camera-jpegs] [--ini FILE] [--log FILE] FILE...\n"
    "\n"
    "Converts the files into one study, as \"Save To Folder\" does, and writes each object as\n"
    "DIR/<SOP Instance UID>.dcm, printing one line per written file. JPG, BMP and PNG pictures\n"
    "become image objects whose SOP class follows the modality; PDF files Encapsulated PDF\n"
    "objects; MP4 videos video objects; DOC, DOCX, RTF, TXT and HTML documents text reports.\n"
    "Files of other kinds, documents without text and files that cannot be converted give no\n"
    "object: they are named on stderr with the reason, the others are written, and the exit\n"
    "code is 1. The\n"
    "modality is one of CT MR CR US MG DX XA OT ES XC; anything else counts as OT. Without\n"
    "--accession a number is generated; without --study-uid the batch UID becomes the Study\n"
    "Instance UID. The study date defaults to today, the sex to M. With --keep-camera-jpegs (or\n"
    "KeepCameraJpegs=1 in the settings) a baseline camera JPEG that needs no turning is kept\n"
    "byte for byte instead of being encoded again (its Exif, XMP and comments are left out).\n"
    "The institution name comes from the settings file (section \"velloran\"; see velloran-cli\n"
    "--help for where it is), or the file --ini names. Texts are taken as UTF-8; an object whose\n"
    "texts all fit ISO 8859-1 is written in it (\"ISO_IR 100\"), any other in UTF-8\n"
    "(\"ISO_IR 192\"). --log FILE writes the run's log lines (what each item gave, how many\n"
    "pictures were encoded at once) to FILE; without it nothing is logged.\n"
    "Exits 1, writing nothing, when a check fails; exits 1 also when a file gave no object or\n"
    "cannot be written (\"2 of 7 items were not written: empty.txt (no text), ...\"); the last\n"
    "line on stderr gives the first error of the log. Exits 2 for wrong arguments.\n";

int Usage(const std::string& problem) {
  std::fprintf(stderr, "velloran-cli save: %s\n%s", problem.c_str(), kUsage);
  return 2;
}

int RunSave(const std::vector<std::string>& args) {
  const ParsedArgs parsed(args, StudyValuedOptions({"out", "ini", "log"}), ConversionFlags());
  if (!parsed.ok()) return Usage(parsed.error());
  if (!parsed.Has("out")) return Usage("--out DIR is required");
  if (parsed.Positional().empty()) return Usage("no file given");

  // The Study Instance UID and the referring physician, which the window keeps from an earlier
  // batch, come from the command line here.
  BatchForm form;
  std::string optionError;
  if (!BatchFormFromOptions(parsed, form, optionError)) return Usage(optionError);

  const std::string iniPath = parsed.ValueOr("ini", DefaultSettingsPath());
  if (!LoadSettings(iniPath, setupcfg)) {
    std::fprintf(stderr, "velloran-cli save: cannot read the settings file %s\n", iniPath.c_str());
    return 1;
  }
  ApplyConversionFlags(parsed, setupcfg);
  if (parsed.Has("log")) SetLogTarget(parsed.Value("log").value(), "", "");

  const std::vector<std::string>& items = parsed.Positional();

  const std::string folder = parsed.Value("out").value();
  std::string message;
  if (!PrepareBatch(form, nullptr, items.size(), setupcfg, message)) {
    std::fprintf(stderr, "%s\n", message.c_str());
    return 1;
  }
  std::error_code error;
  const bool existed = std::filesystem::exists(folder, error);
  std::filesystem::create_directories(folder, error);
  if (error) {
    std::fprintf(stderr, "velloran-cli save: cannot create the folder %s: %s\n", folder.c_str(),
                 error.message().c_str());
    return 1;
  }
  // One object at a time, so a long batch needs no more memory than its largest object. Every
  // object that was made is written; the items that gave none are named with the reason.
  BatchReport report;
  std::vector<std::string> written;
  UserMessage outcome;
  SaveItemsToFolder(items, folder, written, outcome, {}, &report);
  for (const std::string& path : written) std::printf("%s\n", path.c_str());
  if (report.Complete()) return 0;
  // A folder made for a batch that wrote nothing goes again (remove takes only an empty one).
  if (!existed && written.empty()) std::filesystem::remove(folder, error);
  std::fflush(stdout);
  std::fprintf(stderr, "%s\n", outcome.English().c_str());
  PrintFailureCause();
  return 1;
}

const VerbRegistrar kRegistrar({"save", "convert files into one study and write DICOM files",
                                kUsage, RunSave});

}  // namespace
