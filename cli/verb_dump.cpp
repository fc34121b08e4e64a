// velloran-cli dump: the meta group and data set of Part 10 files, one dump line per element.
#include <cstdio>

#include "args.h"
#include "codepage.h"
#include "dicomfile.h"
#include "verbs.h"

namespace {

constexpr const char* kUsage =
    "usage: velloran-cli dump FILE...\n"
    "\n"
    "Prints the file meta group and the data set of each DICOM Part 10 file, one line per\n"
    "element: (group,element), length, VR, name: value. Elements of sequences held with a\n"
    "defined length are indented with dots. With several files, each is headed by its name.\n"
    "Names and texts are Windows-1252 inside the toolkit and are printed as UTF-8.\n"
    "Exits 1 when a file cannot be read or is not DICOM; the other files are still dumped.\n";

void PrintLines(const DcmObj& dataSet) {
  std::vector<std::string> lines;
  dataSet.Dump(lines, 0);
  // Dictionary names hold Windows-1252 bytes (the apostrophe of Patient's Name is 0x92) that a
  // terminal would show as replacement characters.
  for (const std::string& line : lines) std::printf("%s\n", Cp1252ToUtf8(line).c_str());
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
    const bool read = ReadDicomFile(path, file, error);
    if (several) std::printf("# %s\n", path.c_str());
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
