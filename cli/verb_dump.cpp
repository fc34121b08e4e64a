// velloran-cli dump: the meta group and data set of Part 10 files, one dump line per element.
#include <cstdio>

#include "args.h"
#include "charset.h"
#include "dicomfile.h"
#include "dictionary.h"
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

// A dump line whose values are UTF-8: its well-formed UTF-8 sequences are kept and every other
// byte (the dictionary names' Windows-1252 apostrophes and dashes) is widened.
std::string MixedToUtf8(std::string_view line) {
  std::string result;
  for (size_t i = 0; i < line.size();) {
    const size_t length =
        static_cast<unsigned char>(line[i]) < 0x80 ? 1 : Utf8SequenceLength(line.substr(i));
    if (length == 0) {
      result += Cp1252BytesToUtf8(line.substr(i, 1));
      ++i;
    } else {
      result.append(line, i, length);
      i += length;
    }
  }
  return result;
}

// The dump lines of a data set, as DcmObj::Dump makes them, with each text value decoded to UTF-8
// by the Specific Character Set in force (an item may declare its own). The lengths shown stay
// those of the file.
void DecodedLines(const DcmObj& dataSet, std::string_view declared, int depth,
                  std::vector<std::string>& lines) {
  const DcmTag* own = dataSet.FindTag(0x0008, 0x0005);
  const std::string inForce = own != nullptr ? std::string(own->Bytes()) : std::string(declared);
  for (const DcmEntry& entry : dataSet.entries) {
    if (!entry.tag) {
      lines.push_back(DumpLine(entry.obj->header, depth));
      DecodedLines(*entry.obj, inForce, depth + 1, lines);
      continue;
    }
    if (entry.tag->group == 0x0000) LookupVR(*entry.tag);
    const DcmTag& tag = *entry.tag;
    std::string line = DumpLine(tag, depth);
    if (tag.HasValue() && tag.length < 255 && IsTextVR(tag.VR()) && !tag.IsVR("UI")) {
      std::string_view raw = tag.Bytes();
      raw = raw.substr(0, raw.find('\0'));
      if (line.size() >= raw.size() &&
          line.compare(line.size() - raw.size(), raw.size(), raw) == 0) {
        line.resize(line.size() - raw.size());
        line += DecodeValueToUtf8(raw, inForce, tag.IsVR("PN"));
      }
    }
    lines.push_back(std::move(line));
  }
}

void PrintLines(const DcmObj& dataSet) {
  std::vector<std::string> lines;
  DecodedLines(dataSet, "", 0, lines);
  // Dictionary names hold Windows-1252 bytes (the apostrophe of Patient's Name is 0x92) that a
  // terminal would show as replacement characters.
  for (const std::string& line : lines) std::printf("%s\n", MixedToUtf8(line).c_str());
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
