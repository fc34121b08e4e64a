// velloran-cli dump: the meta group and data set of Part 10 files, one dump line per element.
#include <cstdio>

#include "args.h"
#include "dicomfile.h"
#include "dump.h"
#include "verbs.h"

namespace {

constexpr const char* kUsage =
    "usage: velloran-cli dump FILE...\n"
    "\n"
    "Prints the file meta group and the data set of each DICOM Part 10 file, one line per\n"
    "element: (group,element), length, VR, name: value. Elements of sequences held with a\n"
    "defined length are indented with dots. With several files, each is headed by its name.\n"
    "Texts are printed as UTF-8, decoded by the file's Specific Character Set (ISO 8859 parts,\n"
    "UTF-8, GB18030, ISO 2022 Japanese and Korean); a file that declares none is read as\n"
    "UTF-8 where its bytes are valid UTF-8 and as Windows-1252 elsewhere.\n"
    "A file without meta group, or whose meta group lacks the Transfer Syntax UID, is read in\n"
    "the encoding its first element shows; a line starting with # says which was guessed, and\n"
    "what else had to be repaired to read the file.\n"
    "Exits 1 when a file cannot be read or is not DICOM; the other files are still dumped.\n";

void PrintLines(const DcmObj& dataSet) {
  for (const std::string& line : DumpLinesUtf8(dataSet)) std::printf("%s\n", line.c_str());
}

int RunDump(const std::vector<std::string>& args) {
  ParsedArgs parsed(args, {}, {});
  if (!parsed.ok() || parsed.Positional().empty()) {
    std::fprintf(stderr, "velloran-cli dump: %s\n%s",
                 parsed.ok() ? "no file given" : parsed.error().c_str(), kUsage);
    return 2;
  }
  int status = 0;
  const bool several = parsed.Positional().size() > 1;
  for (const std::string& path : parsed.Positional()) {
    DicomFile file;
    std::string error;
    // Values too long to be shown stay in the file: pixel data is never read.
    const bool read = ReadDicomFile(path, file, error, kLongestValueShown + 1);
    if (several) std::printf("# %s\n", path.c_str());
    // Whatever the reader had to guess is said before the elements it read that way.
    for (const std::string& note : file.notes) std::printf("# %s\n", note.c_str());
    // What was decoded is shown even when the file turned out truncated.
    PrintLines(file.meta);
    PrintLines(file.dataSet);
    if (!read) {
      std::fflush(stdout);
      std::fprintf(stderr, "velloran-cli dump: %s: %s\n", path.c_str(), error.c_str());
      status = 1;
    }
  }
  return status;
}

const VerbRegistrar kRegistrar({"dump", "print the elements of DICOM files", kUsage, RunDump});

}  // namespace
