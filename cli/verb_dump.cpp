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
    "Names and texts are Windows-1252 inside the toolkit and are printed as UTF-8; the values\n"
    "of a file whose Specific Character Set is ISO_IR 192 are UTF-8 already and stay so.\n"
    "A file without meta group, or whose meta group lacks the Transfer Syntax UID, is read in\n"
    "the encoding its first element shows; a line starting with # says which was guessed, and\n"
    "what else had to be repaired to read the file.\n"
    "Exits 1 when a file cannot be read or is not DICOM; the other files are still dumped.\n";

// Length of the well-formed UTF-8 sequence at the start of `text`, or 0 when there is none.
size_t Utf8SequenceLength(std::string_view text) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  size_t length = 0;
  char32_t codePoint = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, codePoint = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, codePoint = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, codePoint = lead & 0x07;
  } else {
    return 0;
  }
  if (text.size() < length) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
    codePoint = codePoint << 6 | (byte(i) & 0x3F);
  }
  const bool overlong = (length == 3 && codePoint < 0x800) || (length == 4 && codePoint < 0x10000);
  const bool surrogate = codePoint >= 0xD800 && codePoint <= 0xDFFF;
  return overlong || surrogate || codePoint > 0x10FFFF ? 0 : length;
}

// A dump line of a file whose values are UTF-8: its well-formed UTF-8 sequences are kept and every
// other byte (the dictionary names' Windows-1252 apostrophes and dashes) is widened.
std::string MixedToUtf8(std::string_view line) {
  std::string result;
  for (size_t i = 0; i < line.size();) {
    const size_t length =
        static_cast<unsigned char>(line[i]) < 0x80 ? 1 : Utf8SequenceLength(line.substr(i));
    if (length == 0) {
      result += Cp1252ToUtf8(line.substr(i, 1));
      ++i;
    } else {
      result.append(line, i, length);
      i += length;
    }
  }
  return result;
}

void PrintLines(const DcmObj& dataSet, bool valuesAreUtf8) {
  std::vector<std::string> lines;
  dataSet.Dump(lines, 0);
  // Dictionary names hold Windows-1252 bytes (the apostrophe of Patient's Name is 0x92) that a
  // terminal would show as replacement characters.
  for (const std::string& line : lines) {
    const std::string shown = valuesAreUtf8 ? MixedToUtf8(line) : Cp1252ToUtf8(line);
    std::printf("%s\n", shown.c_str());
  }
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
    // Whatever the reader had to guess is said before the elements it read that way.
    for (const std::string& note : file.notes) std::printf("# %s\n", note.c_str());
    // What was decoded is shown even when the file turned out truncated.
    PrintLines(file.meta, false);
    PrintLines(file.dataSet,
               file.dataSet.GetString(0x0008, 0x0005).find("ISO_IR 192") != std::string::npos);
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
