// The Word 97 binary document reader: FIB, Clx and piece table, read through libgsf.
#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input-stdio.h>
#include <gsf/gsf-input.h>
#include <gsf/gsf-utils.h>

#include <cstdint>
#include <memory>
#include <mutex>

#include "codepage.h"
#include "textreaders.h"

namespace {

// File Information Block fields (offsets in the "WordDocument" stream).
constexpr size_t kFibIdent = 0x0000;     // wIdent, 0xA5EC for every Word binary document
constexpr size_t kFibVersion = 0x0002;   // nFib
constexpr size_t kFibLanguage = 0x0006;  // lid: the language the document was written in
constexpr size_t kFibFlags = 0x000A;     // fDot ... fWhichTblStm, fEncrypted
constexpr size_t kFibClxOffset = 418;    // fcClx: where the Clx starts in the table stream
constexpr size_t kFibClxSize = 422;      // lcbClx: its size in bytes
constexpr size_t kFibMinimumSize = kFibClxSize + 4;

constexpr uint16_t kWordIdent = 0xA5EC;
// Word 6 and Word 95 write nFib 101-105 and keep fcClx elsewhere; Word 97 and later write 0xC1
// or more in this base field.
constexpr uint16_t kFirstWord97Version = 0x00C0;
constexpr uint16_t kFlagEncrypted = 0x0100;
constexpr uint16_t kFlagTable1 = 0x0200;

constexpr uint8_t kClxPrc = 0x01;   // a property-modifier entry: 0x01, 16-bit size, grpprl
constexpr uint8_t kClxPcdt = 0x02;  // the piece table entry: 0x02, 32-bit size, PlcPcd
constexpr uint32_t kCompressedBit = 0x40000000u;
constexpr size_t kPieceDescriptorSize = 8;

uint16_t Read16(std::string_view bytes, size_t offset) {
  return static_cast<uint16_t>(static_cast<uint8_t>(bytes[offset]) |
                               static_cast<uint8_t>(bytes[offset + 1]) << 8);
}

uint32_t Read32(std::string_view bytes, size_t offset) {
  return static_cast<uint32_t>(static_cast<uint8_t>(bytes[offset])) |
         static_cast<uint32_t>(static_cast<uint8_t>(bytes[offset + 1])) << 8 |
         static_cast<uint32_t>(static_cast<uint8_t>(bytes[offset + 2])) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(bytes[offset + 3])) << 24;
}

// GObject references released on scope exit.
struct GObjectUnref {
  void operator()(void* object) const {
    if (object != nullptr) g_object_unref(object);
  }
};
using InputPtr = std::unique_ptr<GsfInput, GObjectUnref>;
using InfilePtr = std::unique_ptr<GsfInfile, GObjectUnref>;

std::string TakeGError(GError* error) {
  std::string message = error != nullptr && error->message != nullptr ? error->message : "";
  if (error != nullptr) g_error_free(error);
  return message;
}

// Reads a whole stream of the compound file; false when it is absent or cannot be read.
bool ReadStream(GsfInfile* storage, const char* name, std::string& bytes, bool& present) {
  InputPtr stream(gsf_infile_child_by_name(storage, name));
  present = stream != nullptr;
  if (!present) return false;
  const gsf_off_t size = gsf_input_size(stream.get());
  if (size < 0 || static_cast<uint64_t>(size) > 0x7FFFFFFFull) return false;
  bytes.resize(static_cast<size_t>(size));
  if (size == 0) return true;
  return gsf_input_read(stream.get(), static_cast<size_t>(size),
                        reinterpret_cast<guint8*>(bytes.data())) != nullptr;
}

// The Windows ANSI code page of a language identifier (its primary language, the low ten bits).
int AnsiCodePageOfLanguage(uint16_t lid) {
  switch (lid & 0x3FF) {
    case 0x02:  // Bulgarian
    case 0x19:  // Russian
    case 0x22:  // Ukrainian
    case 0x23:  // Belarusian
    case 0x2F:  // Macedonian
      return 1251;
    case 0x05:  // Czech
    case 0x0E:  // Hungarian
    case 0x15:  // Polish
    case 0x18:  // Romanian
    case 0x1B:  // Slovak
    case 0x1C:  // Albanian
    case 0x24:  // Slovenian
      return 1250;
    case 0x1A:  // Croatian, Serbian (Latin) and Serbian (Cyrillic), told apart by the sublanguage
      return lid == 0x0C1A || lid == 0x1C1A ? 1251 : 1250;
    case 0x08:  // Greek
      return 1253;
    case 0x1F:  // Turkish
      return 1254;
    case 0x0D:  // Hebrew
      return 1255;
    case 0x01:  // Arabic
    case 0x20:  // Urdu
    case 0x29:  // Farsi
      return 1256;
    case 0x25:  // Estonian
    case 0x26:  // Latvian
    case 0x27:  // Lithuanian
      return 1257;
    case 0x2A:  // Vietnamese
      return 1258;
    case 0x1E:  // Thai
      return 874;
    default:
      return 1252;
  }
}

}  // namespace

int DocCodePage(std::string_view wordDocument) {
  if (wordDocument.size() < kFibLanguage + 2) return 1252;
  return AnsiCodePageOfLanguage(Read16(wordDocument, kFibLanguage));
}

std::string_view DocTableStreamName(std::string_view wordDocument) {
  if (wordDocument.size() < kFibFlags + 2) return {};
  return (Read16(wordDocument, kFibFlags) & kFlagTable1) != 0 ? "1Table" : "0Table";
}

bool ReadDocPieces(std::string_view wordDocument, std::string_view tableStream, TextLines& lines,
                   std::string& problem) {
  lines.clear();
  if (wordDocument.size() < kFibMinimumSize) {
    problem = "the WordDocument stream is too short to hold a File Information Block";
    return false;
  }
  if (Read16(wordDocument, kFibIdent) != kWordIdent) {
    problem = "the WordDocument stream does not start with a Word File Information Block";
    return false;
  }
  if (Read16(wordDocument, kFibVersion) < kFirstWord97Version) {
    problem = "the document was saved by a Word version older than Word 97";
    return false;
  }
  if ((Read16(wordDocument, kFibFlags) & kFlagEncrypted) != 0) {
    problem = "the document is encrypted (password protected)";
    return false;
  }
  const uint64_t clxOffset = Read32(wordDocument, kFibClxOffset);
  const uint64_t clxSize = Read32(wordDocument, kFibClxSize);
  if (clxOffset + clxSize > tableStream.size()) {
    problem = "the piece table lies outside the table stream";
    return false;
  }
  const std::string_view clx = tableStream.substr(clxOffset, clxSize);

  // Property modifiers may precede the piece table; they only describe formatting, so they are
  // stepped over to reach it.
  size_t at = 0;
  while (at < clx.size() && static_cast<uint8_t>(clx[at]) == kClxPrc) {
    if (at + 3 > clx.size()) break;
    at += 3 + Read16(clx, at + 1);
  }
  if (at >= clx.size() || static_cast<uint8_t>(clx[at]) != kClxPcdt) {
    problem = "the document has no readable piece table";
    return false;
  }
  if (at + 5 > clx.size()) {
    problem = "the piece table is truncated";
    return false;
  }
  const uint64_t tableSize = Read32(clx, at + 1);
  if (tableSize < 4 || at + 5 + tableSize > clx.size()) {
    problem = "the piece table's size does not fit the Clx";
    return false;
  }
  const std::string_view plc = clx.substr(at + 5, tableSize);
  const size_t pieces = (plc.size() - 4) / (4 + kPieceDescriptorSize);
  const size_t descriptors = (pieces + 1) * 4;

  // Every character of a sound document lies in the WordDocument stream once, so pieces that
  // together claim more than the stream holds are corrupt (and could otherwise make the reader
  // repeat the same bytes without end).
  uint64_t budget = wordDocument.size();
  const int codePage = DocCodePage(wordDocument);
  TextLines read;
  read.reserve(pieces);
  for (size_t i = 0; i < pieces; ++i) {
    const uint32_t firstCp = Read32(plc, i * 4);
    const uint32_t endCp = Read32(plc, (i + 1) * 4);
    if (endCp < firstCp) {
      problem = "piece " + std::to_string(i) + " of the piece table ends before it starts";
      return false;
    }
    const uint64_t count = endCp - firstCp;
    const uint32_t fc = Read32(plc, descriptors + i * kPieceDescriptorSize + 2);
    const bool compressed = (fc & kCompressedBit) != 0;
    const uint64_t start = compressed ? (fc & ~kCompressedBit) / 2 : fc;
    const uint64_t bytes = compressed ? count : count * 2;
    if (start + bytes > wordDocument.size()) {
      problem = "piece " + std::to_string(i) + " of the piece table points past the end of the " +
                "WordDocument stream";
      return false;
    }
    if (bytes > budget) {
      problem = "the piece table claims more text than the WordDocument stream holds";
      return false;
    }
    budget -= bytes;
    const std::string_view raw = wordDocument.substr(start, bytes);
    if (compressed) {
      // Compressed pieces hold one byte per character, in the code page of the document's
      // language (Windows-1252 for Western ones).
      read.push_back(CodePageToUtf8(codePage, raw));
    } else {
      std::u16string units;
      Utf16FromBytes(raw, Utf16Order::LittleEndian, units);
      read.push_back(Utf16ToUtf8(units));
    }
  }
  lines = std::move(read);
  return true;
}

bool ReadDocText(const std::string& path, TextLines& lines, std::string& error) {
  lines.clear();
  static std::once_flag initialised;
  std::call_once(initialised, [] { gsf_init(); });
  const std::string prefix = "Cannot read Word document \"" + path + "\": ";

  GError* gerror = nullptr;
  InputPtr input(gsf_input_stdio_new(path.c_str(), &gerror));
  if (!input) {
    error = prefix + TakeGError(gerror);
    return false;
  }
  InfilePtr storage(gsf_infile_msole_new(input.get(), &gerror));
  if (!storage) {
    TakeGError(gerror);
    error = prefix + "it is not an OLE compound file (not a Word 97 or later document)";
    return false;
  }
  std::string wordDocument;
  bool present = false;
  if (!ReadStream(storage.get(), "WordDocument", wordDocument, present)) {
    error = prefix +
            (present ? "its WordDocument stream cannot be read" : "it has no WordDocument stream");
    return false;
  }
  // The FIB names the table stream; when that one is missing the other is tried, so a writer
  // that left the flag clear but wrote "1Table" is still read.
  std::string_view tableName = DocTableStreamName(wordDocument);
  if (tableName.empty()) tableName = "1Table";
  std::string table;
  if (!ReadStream(storage.get(), std::string(tableName).c_str(), table, present)) {
    if (present) {
      error = prefix + "its table stream " + std::string(tableName) + " cannot be read";
      return false;
    }
    const std::string other = tableName == "1Table" ? "0Table" : "1Table";
    if (!ReadStream(storage.get(), other.c_str(), table, present)) {
      error = prefix + (present ? "its table stream " + other + " cannot be read"
                                : "it has no table stream (" + std::string(tableName) + ")");
      return false;
    }
  }
  std::string problem;
  if (!ReadDocPieces(wordDocument, table, lines, problem)) {
    error = prefix + problem;
    return false;
  }
  return true;
}
