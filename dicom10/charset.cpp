// Character sets of data sets: decoding by Specific Character Set through iconv, and encoding
// the program's UTF-8 texts for the objects it writes.
#include "charset.h"

#include <errno.h>
#include <iconv.h>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "dcmobj.h"

namespace {

constexpr const char* kReplacement = "\xEF\xBF\xBD";  // U+FFFD

void AppendUtf8(std::string& out, char32_t codePoint) {
  if (codePoint < 0x80) {
    out += static_cast<char>(codePoint);
  } else if (codePoint < 0x800) {
    out += static_cast<char>(0xC0 | (codePoint >> 6));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  } else if (codePoint < 0x10000) {
    out += static_cast<char>(0xE0 | (codePoint >> 12));
    out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (codePoint >> 18));
    out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  }
}

// The code point of the well-formed UTF-8 sequence at `at`, and its length; length 0 when the
// bytes there are not one.
struct Decoded {
  char32_t codePoint = 0;
  size_t length = 0;
};

Decoded NextUtf8(std::string_view text, size_t at) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[at + i]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) return {lead, 1};
  size_t length = 0;
  char32_t codePoint = 0;
  char32_t smallest = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, codePoint = lead & 0x1F, smallest = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, codePoint = lead & 0x0F, smallest = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, codePoint = lead & 0x07, smallest = 0x10000;
  } else {
    return {};
  }
  if (text.size() - at < length) return {};
  for (size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return {};
    codePoint = codePoint << 6 | (byte(i) & 0x3F);
  }
  if (codePoint < smallest || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF))
    return {};
  return {codePoint, length};
}

// Windows-1252 bytes 0x80-0x9F; the undefined positions keep their own value.
constexpr std::array<char32_t, 32> kCp1252HighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

char32_t Cp1252CodePoint(unsigned char byte) {
  return byte >= 0x80 && byte <= 0x9F ? kCp1252HighControls[byte - 0x80] : byte;
}

// The converters to UTF-8 opened so far on this thread, by encoding. Opening one costs more than
// decoding a short value, and may load and unload the encoding's module each time, so each stays
// open until the thread ends and is reset before every use.
class IconvCache {
 public:
  IconvCache() = default;
  IconvCache(const IconvCache&) = delete;
  IconvCache& operator=(const IconvCache&) = delete;
  ~IconvCache() {
    for (const auto& [encoding, converter] : open_) iconv_close(converter);
  }

  // The converter from `encoding`, reset to its initial state; nullopt when iconv does not know
  // the encoding.
  std::optional<iconv_t> From(const char* encoding) {
    for (const auto& [name, converter] : open_) {
      if (name == encoding) {
        iconv(converter, nullptr, nullptr, nullptr, nullptr);
        return converter;
      }
    }
    const iconv_t opened = iconv_open("UTF-8", encoding);
    if (opened == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
    open_.emplace_back(encoding, opened);
    return opened;
  }

 private:
  std::vector<std::pair<std::string, iconv_t>> open_;
};

// Bytes of `encoding` to UTF-8 through iconv. A byte the encoding cannot explain becomes U+FFFD
// and decoding goes on after it, so one bad byte never costs the rest of the value.
void IconvAppend(const char* encoding, std::string_view bytes, std::string& out) {
  if (bytes.empty()) return;
  thread_local IconvCache cache;
  const std::optional<iconv_t> converter = cache.From(encoding);
  if (!converter) {
    for (size_t i = 0; i < bytes.size(); ++i) out += kReplacement;
    return;
  }
  // iconv only reads the input, whatever its prototype says.
  char* in = const_cast<char*>(bytes.data());
  size_t inLeft = bytes.size();
  char buffer[1024];
  while (inLeft > 0) {
    char* outPointer = buffer;
    size_t outLeft = sizeof buffer;
    const size_t result = iconv(*converter, &in, &inLeft, &outPointer, &outLeft);
    out.append(buffer, sizeof buffer - outLeft);
    if (result != static_cast<size_t>(-1)) break;
    if (errno == E2BIG) continue;
    // EILSEQ or EINVAL (a sequence cut short at the end): skip one byte, start afresh.
    out += kReplacement;
    ++in;
    --inLeft;
    iconv(*converter, nullptr, nullptr, nullptr, nullptr);
  }
}

// True when every byte is ASCII and none starts an escape sequence.
bool IsPlainAscii(std::string_view bytes) {
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x80 || byte == 0x1B) return false;
  }
  return true;
}

// A UTF-8 value, with every byte that is not part of a well-formed sequence made U+FFFD.
void Utf8Append(std::string_view bytes, std::string& out) {
  for (size_t i = 0; i < bytes.size();) {
    const Decoded next = NextUtf8(bytes, i);
    if (next.length == 0) {
      out += kReplacement;
      ++i;
    } else {
      out.append(bytes, i, next.length);
      i += next.length;
    }
  }
}

// The single-byte and multi-byte sets a Specific Character Set term can name.
enum class Coding {
  Ascii,         // ISO_IR 6, or nothing declared: non-ASCII bytes read as UTF-8 or Windows-1252
  Iconv,         // one 8-bit or multi-byte encoding iconv knows
  Utf8,          // ISO_IR 192
  JisKatakana,   // JIS X 0201: half-width katakana in 0xA1-0xDF, ASCII below
  Jis0208,       // JIS X 0208 in G0 (two 7-bit bytes)
  Jis0212,       // JIS X 0212 in G0 (two 7-bit bytes)
  DoubleByteGR,  // KS X 1001 or GB 2312 in G1 (two bytes of 0xA1-0xFE), through EUC
};

struct Term {
  std::string_view name;  // the defined term of (0008,0005)
  Coding coding;
  const char* encoding;      // iconv's name for the bytes, where iconv reads them
  std::string_view escape;   // its ISO 2022 escape sequence (after ESC); empty for none
  bool graphicLeft = false;  // designated to G0 (else to G1)
};

// PS3.3 C.12.1.1.2: the defined terms without and with code extensions.
constexpr Term kTerms[] = {
    {"ISO_IR 6", Coding::Ascii, nullptr, "", true},
    {"ISO_IR 100", Coding::Iconv, "ISO-8859-1", "", false},
    {"ISO_IR 101", Coding::Iconv, "ISO-8859-2", "", false},
    {"ISO_IR 109", Coding::Iconv, "ISO-8859-3", "", false},
    {"ISO_IR 110", Coding::Iconv, "ISO-8859-4", "", false},
    {"ISO_IR 144", Coding::Iconv, "ISO-8859-5", "", false},
    {"ISO_IR 127", Coding::Iconv, "ISO-8859-6", "", false},
    {"ISO_IR 126", Coding::Iconv, "ISO-8859-7", "", false},
    {"ISO_IR 138", Coding::Iconv, "ISO-8859-8", "", false},
    {"ISO_IR 148", Coding::Iconv, "ISO-8859-9", "", false},
    {"ISO_IR 203", Coding::Iconv, "ISO-8859-15", "", false},
    {"ISO_IR 166", Coding::Iconv, "TIS-620", "", false},
    {"ISO_IR 13", Coding::JisKatakana, nullptr, "", false},
    {"ISO_IR 192", Coding::Utf8, nullptr, "", false},
    {"GB18030", Coding::Iconv, "GB18030", "", false},
    {"GBK", Coding::Iconv, "GBK", "", false},
    {"ISO 2022 IR 6", Coding::Ascii, nullptr, "(B", true},
    {"ISO 2022 IR 100", Coding::Iconv, "ISO-8859-1", "-A", false},
    {"ISO 2022 IR 101", Coding::Iconv, "ISO-8859-2", "-B", false},
    {"ISO 2022 IR 109", Coding::Iconv, "ISO-8859-3", "-C", false},
    {"ISO 2022 IR 110", Coding::Iconv, "ISO-8859-4", "-D", false},
    {"ISO 2022 IR 144", Coding::Iconv, "ISO-8859-5", "-L", false},
    {"ISO 2022 IR 127", Coding::Iconv, "ISO-8859-6", "-G", false},
    {"ISO 2022 IR 126", Coding::Iconv, "ISO-8859-7", "-F", false},
    {"ISO 2022 IR 138", Coding::Iconv, "ISO-8859-8", "-H", false},
    {"ISO 2022 IR 148", Coding::Iconv, "ISO-8859-9", "-M", false},
    {"ISO 2022 IR 203", Coding::Iconv, "ISO-8859-15", "-b", false},
    {"ISO 2022 IR 166", Coding::Iconv, "TIS-620", "-T", false},
    {"ISO 2022 IR 13", Coding::JisKatakana, nullptr, ")I", false},
    {"ISO 2022 IR 87", Coding::Jis0208, "EUC-JP", "$B", true},
    {"ISO 2022 IR 159", Coding::Jis0212, "EUC-JP", "$(D", true},
    {"ISO 2022 IR 149", Coding::DoubleByteGR, "EUC-KR", "$)C", false},
    {"ISO 2022 IR 58", Coding::DoubleByteGR, "GB2312", "$)A", false},
};

// JIS X 0201 Roman in G0 (ESC ( J): read as ASCII, as other toolkits do, so that its yen sign
// stays the backslash that separates values.
constexpr Term kJisRoman = {"", Coding::Ascii, nullptr, "(J", true};

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\0')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.remove_suffix(1);
  return text;
}

const Term* FindTerm(std::string_view name) {
  name = TrimBlanks(name);
  if (name.empty()) return &kTerms[0];
  for (const Term& term : kTerms) {
    if (term.name == name) return &term;
  }
  return nullptr;
}

std::vector<std::string_view> SplitTerms(std::string_view value) {
  std::vector<std::string_view> terms;
  size_t start = 0;
  for (;;) {
    const size_t slash = value.find('\\', start);
    terms.push_back(value.substr(start, slash == std::string_view::npos ? slash : slash - start));
    if (slash == std::string_view::npos) break;
    start = slash + 1;
  }
  return terms;
}

// Decodes a value piece by piece: each run of bytes under one designation is handed to the
// decoder of that set. G0 and G1 start as the first term designates and return to that state at
// each delimiter (PS3.5 6.1.2.5.3).
class Iso2022Decoder {
 public:
  Iso2022Decoder(const Term* initialG0, const Term* initialG1, bool personName, bool undeclared)
      : initialG0_(initialG0),
        initialG1_(initialG1),
        personName_(personName),
        undeclared_(undeclared) {}

  std::string Decode(std::string_view bytes) {
    bytes_ = bytes;
    Reset();
    for (size_t i = 0; i < bytes.size();) {
      const auto byte = static_cast<unsigned char>(bytes[i]);
      if (byte == 0x1B) {
        i = Escape(i);
        continue;
      }
      if (IsDelimiter(byte)) {
        Flush();
        out_ += static_cast<char>(byte);
        Reset();
        ++i;
        continue;
      }
      const bool high = byte >= 0x80;
      const Term* set = high ? g1_ : g0_;
      if (set != runSet_ || high != runHigh_) Flush();
      runSet_ = set;
      runHigh_ = high;
      run_ += static_cast<char>(byte);
      ++i;
    }
    Flush();
    return std::move(out_);
  }

 private:
  void Reset() {
    Flush();
    g0_ = initialG0_;
    g1_ = initialG1_;
  }

  // Delimiters return the code extensions to their initial state; inside a two-byte G0 set the
  // same bytes are halves of characters.
  bool IsDelimiter(unsigned char byte) const {
    if (g0_ != nullptr && (g0_->coding == Coding::Jis0208 || g0_->coding == Coding::Jis0212) &&
        byte >= 0x21 && byte <= 0x7E) {
      return false;
    }
    if (byte == '\r' || byte == '\n' || byte == '\t' || byte == '\f' || byte == '\\') return true;
    return personName_ && (byte == '^' || byte == '=');
  }

  size_t Escape(size_t at) {
    Flush();
    const std::string_view rest = bytes_.substr(at + 1);
    const auto matches = [&](const Term& term) {
      return !term.escape.empty() && rest.substr(0, term.escape.size()) == term.escape;
    };
    const Term* found = matches(kJisRoman) ? &kJisRoman : nullptr;
    for (const Term& term : kTerms) {
      if (found == nullptr && matches(term)) found = &term;
    }
    if (found == nullptr) {
      out_ += kReplacement;  // an escape sequence of a set nobody declared
      return at + 1;
    }
    (found->graphicLeft ? g0_ : g1_) = found;
    return at + 1 + found->escape.size();
  }

  void Flush() {
    if (run_.empty()) return;
    DecodeRun(runSet_, runHigh_, run_);
    run_.clear();
  }

  void DecodeRun(const Term* set, bool high, const std::string& run) {
    if (set == nullptr) {
      Fallback(run);
      return;
    }
    switch (set->coding) {
      case Coding::Ascii:
        if (!high) {
          out_ += run;
        } else {
          Fallback(run);
        }
        return;
      case Coding::Utf8:
        Utf8Append(run, out_);
        return;
      case Coding::Iconv:
        if (!high && std::string_view(set->encoding).substr(0, 8) == "ISO-8859") {
          out_ += run;  // the left half of every ISO 8859 part is ASCII
        } else {
          IconvAppend(set->encoding, run, out_);
        }
        return;
      case Coding::JisKatakana:
        for (const char c : run) {
          const auto byte = static_cast<unsigned char>(c);
          if (byte >= 0xA1 && byte <= 0xDF) {
            AppendUtf8(out_, 0xFF61 + (byte - 0xA1));
          } else if (byte < 0x80) {
            out_ += c;
          } else {
            out_ += kReplacement;
          }
        }
        return;
      case Coding::Jis0208:
      case Coding::Jis0212: {
        // Two 7-bit bytes per character: the same character in EUC-JP has both high bits set
        // (and, for JIS X 0212, the single shift 0x8F before it).
        std::string euc;
        for (size_t i = 0; i < run.size(); ++i) {
          const auto byte = static_cast<unsigned char>(run[i]);
          if (byte < 0x21 || byte > 0x7E) {
            euc += run[i];
            continue;
          }
          if (set->coding == Coding::Jis0212 && i % 2 == 0) euc += '\x8F';
          euc += static_cast<char>(byte | 0x80);
        }
        IconvAppend(set->encoding, euc, out_);
        return;
      }
      case Coding::DoubleByteGR:
        IconvAppend(set->encoding, run, out_);
        return;
    }
  }

  void Fallback(const std::string& run) {
    if (undeclared_) {
      out_ += TextToUtf8(run);
    } else {
      for (size_t i = 0; i < run.size(); ++i) out_ += kReplacement;
    }
  }

  const Term* initialG0_;
  const Term* initialG1_;
  bool personName_;
  bool undeclared_;
  std::string_view bytes_;
  const Term* g0_ = nullptr;
  const Term* g1_ = nullptr;
  const Term* runSet_ = nullptr;
  bool runHigh_ = false;
  std::string run_;
  std::string out_;
};

bool PadsWithZero(const DcmTag& tag) {
  return tag.IsVR("UI");
}

// Stores a text as the tag's value, padded to even length.
void StoreText(DcmTag& tag, std::string text) {
  if (text.size() % 2 != 0) text += PadsWithZero(tag) ? '\0' : ' ';
  tag.SetValue(text.data(), static_cast<uint32_t>(text.size()));
}

// Calls `use` for every element of the data set and of its nested data sets; `declared` is the
// Specific Character Set in force there.
template <typename Use>
void ForEachText(DcmObj& dataSet, std::string_view declared, Use& use) {
  const DcmTag* own = dataSet.FindTag(0x0008, 0x0005);
  const std::string ownValue = own != nullptr ? std::string(own->Bytes()) : std::string();
  const std::string_view inForce = own != nullptr ? std::string_view(ownValue) : declared;
  for (size_t i = 0; i < dataSet.Count(); ++i) {
    if (DcmObj* nested = dataSet.ObjAt(i)) {
      ForEachText(*nested, inForce, use);
      continue;
    }
    DcmTag& tag = *dataSet.TagAt(i);
    if (tag.Is(0x0008, 0x0005) || !tag.HasValue() || !IsTextVR(tag.VR())) continue;
    use(tag, inForce);
  }
}

}  // namespace

bool IconvToUtf8(const std::string& encoding, std::string_view bytes, std::string& utf8) {
  const iconv_t probe = iconv_open("UTF-8", encoding.c_str());
  if (probe == reinterpret_cast<iconv_t>(-1)) return false;
  iconv_close(probe);
  IconvAppend(encoding.c_str(), bytes, utf8);
  return true;
}

void AppendCodePoint(std::string& utf8, char32_t codePoint) {
  AppendUtf8(utf8, codePoint);
}

bool IsValidUtf8(std::string_view bytes) {
  for (size_t i = 0; i < bytes.size();) {
    const Decoded next = NextUtf8(bytes, i);
    if (next.length == 0) return false;
    i += next.length;
  }
  return true;
}

std::string Cp1252BytesToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (const char c : bytes) AppendUtf8(out, Cp1252CodePoint(static_cast<unsigned char>(c)));
  return out;
}

std::string MixedBytesToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (size_t i = 0; i < bytes.size();) {
    // Runs of ASCII, most of any dump line, go across whole.
    size_t ascii = i;
    while (ascii < bytes.size() && static_cast<unsigned char>(bytes[ascii]) < 0x80) ++ascii;
    if (ascii > i) {
      out.append(bytes, i, ascii - i);
      i = ascii;
      continue;
    }
    const Decoded next = NextUtf8(bytes, i);
    if (next.length == 0) {
      AppendUtf8(out, Cp1252CodePoint(static_cast<unsigned char>(bytes[i])));
      ++i;
    } else {
      out.append(bytes, i, next.length);
      i += next.length;
    }
  }
  return out;
}

std::string TextToUtf8(std::string_view bytes) {
  return IsValidUtf8(bytes) ? std::string(bytes) : Cp1252BytesToUtf8(bytes);
}

std::string Utf8Prefix(std::string_view utf8, size_t characters) {
  size_t at = 0;
  for (size_t counted = 0; at < utf8.size() && counted < characters; ++counted) {
    const Decoded next = NextUtf8(utf8, at);
    at += next.length == 0 ? 1 : next.length;
  }
  return std::string(utf8.substr(0, at));
}

size_t Utf8Length(std::string_view utf8) {
  size_t count = 0;
  for (size_t at = 0; at < utf8.size(); ++count) {
    const Decoded next = NextUtf8(utf8, at);
    at += next.length == 0 ? 1 : next.length;
  }
  return count;
}

TextRepertoire RepertoireOf(std::string_view utf8) {
  TextRepertoire needed = TextRepertoire::Ascii;
  for (size_t i = 0; i < utf8.size();) {
    const Decoded next = NextUtf8(utf8, i);
    if (next.length == 0 || next.codePoint > 0xFF) return TextRepertoire::Unicode;
    if (next.codePoint >= 0x80) needed = TextRepertoire::Latin1;
    i += next.length;
  }
  return needed;
}

bool Utf8ToLatin1(std::string_view utf8, std::string& latin1) {
  latin1.clear();
  latin1.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) {
    const Decoded next = NextUtf8(utf8, i);
    if (next.length == 0 || next.codePoint > 0xFF) return false;
    latin1 += static_cast<char>(next.codePoint);
    i += next.length;
  }
  return true;
}

bool Utf8ToCp1252Strict(std::string_view utf8, std::string& cp1252, std::string& refused) {
  cp1252.clear();
  refused.clear();
  for (size_t i = 0; i < utf8.size();) {
    const Decoded next = NextUtf8(utf8, i);
    if (next.length == 0) {
      refused = "the byte 0x" + std::string(1, "0123456789ABCDEF"[(utf8[i] >> 4) & 0xF]) +
                std::string(1, "0123456789ABCDEF"[utf8[i] & 0xF]);
      return false;
    }
    char byte = 0;
    if (next.codePoint < 0x80 || (next.codePoint >= 0xA0 && next.codePoint <= 0xFF)) {
      byte = static_cast<char>(next.codePoint);
    } else {
      bool found = false;
      for (size_t b = 0; b < kCp1252HighControls.size() && !found; ++b) {
        if (kCp1252HighControls[b] == next.codePoint) {
          byte = static_cast<char>(0x80 + b);
          found = true;
        }
      }
      if (!found) {
        refused = std::string(utf8.substr(i, next.length));
        return false;
      }
    }
    cp1252 += byte;
    i += next.length;
  }
  return true;
}

bool IsCharacterSetVR(std::string_view vr) {
  return vr == "SH" || vr == "LO" || vr == "ST" || vr == "LT" || vr == "UT" || vr == "PN" ||
         vr == "UC";
}

bool IsTextVR(std::string_view vr) {
  return IsCharacterSetVR(vr) || vr == "AE" || vr == "AS" || vr == "CS" || vr == "DA" ||
         vr == "DS" || vr == "DT" || vr == "IS" || vr == "TM" || vr == "UI" || vr == "UR";
}

bool IsKnownCharacterSet(std::string_view specificCharacterSet) {
  for (const std::string_view term : SplitTerms(specificCharacterSet)) {
    if (FindTerm(term) == nullptr) return false;
  }
  return true;
}

std::string DecodeValueToUtf8(std::string_view bytes, std::string_view specificCharacterSet,
                              bool personName) {
  // Most values are plain ASCII, which every set reads as ASCII unless its first term puts a
  // two-byte set into G0 from the start.
  if (IsPlainAscii(bytes)) {
    const Term* leading = FindTerm(specificCharacterSet.substr(0, specificCharacterSet.find('\\')));
    if (leading == nullptr || !leading->graphicLeft || leading->coding == Coding::Ascii) {
      return std::string(bytes);
    }
  }
  const std::vector<std::string_view> terms = SplitTerms(specificCharacterSet);
  const bool undeclared = terms.size() == 1 && TrimBlanks(terms[0]).empty();
  const Term* first = FindTerm(terms[0]);
  if (terms.size() == 1 && first != nullptr && first->escape.empty()) {
    // One set without code extensions.
    std::string out;
    switch (first->coding) {
      case Coding::Utf8:
        Utf8Append(bytes, out);
        return out;
      case Coding::Ascii:
        return TextToUtf8(bytes);
      case Coding::Iconv:
        // Without code extensions an escape byte is just a control character; GB18030 and GBK
        // also put bytes below 0x80 inside their characters, so the value goes to iconv whole.
        IconvAppend(first->encoding, bytes, out);
        return out;
      default:
        break;
    }
  }
  // Code extensions, or a single set handled by the same piecewise decoder: the first term's
  // set is designated at the start, to G0 or G1 as it belongs, ASCII in G0 otherwise.
  const Term* ascii = &kTerms[0];
  const Term* g0 = ascii;
  const Term* g1 = nullptr;
  if (first != nullptr && first->coding != Coding::Ascii) {
    if (first->graphicLeft) {
      g0 = first;
    } else {
      g1 = first;
    }
  }
  if (first == nullptr) g1 = nullptr;  // an unknown set: its bytes become U+FFFD
  // ISO_IR 13 alone also carries JIS X 0201 Roman in G0, read as ASCII.
  Iso2022Decoder decoder(g0, g1, personName, undeclared);
  return decoder.Decode(bytes);
}

std::string DecodedString(const DcmTag& tag, std::string_view specificCharacterSet) {
  std::string_view bytes = tag.Bytes();
  const size_t zero = bytes.find('\0');
  if (zero != std::string_view::npos) bytes = bytes.substr(0, zero);
  // Trimmed before decoding too: an escape sequence (0x1B) is not a blank to remove.
  while (!bytes.empty() && static_cast<unsigned char>(bytes.front()) <= 0x20 &&
         bytes.front() != 0x1B) {
    bytes.remove_prefix(1);
  }
  while (!bytes.empty() && static_cast<unsigned char>(bytes.back()) <= 0x20) bytes.remove_suffix(1);
  return DecodeValueToUtf8(bytes, specificCharacterSet, tag.IsVR("PN"));
}

void DecodeDataSetToUtf8(DcmObj& dataSet) {
  const DcmTag* declaredTag = dataSet.FindTag(0x0008, 0x0005);
  const std::string declared = declaredTag != nullptr ? std::string(declaredTag->Bytes()) : "";
  auto decode = [](DcmTag& tag, std::string_view inForce) {
    // ASCII without escape sequences reads the same in every set.
    const std::string_view bytes = tag.Bytes();
    bool ascii = true;
    for (const char c : bytes) ascii = ascii && static_cast<unsigned char>(c) < 0x80 && c != 0x1B;
    if (ascii) return;
    StoreText(tag, DecodeValueToUtf8(bytes, inForce, tag.IsVR("PN")));
  };
  ForEachText(dataSet, declared, decode);
  // Nested data sets that declared their own set now hold UTF-8 as well.
  std::vector<DcmObj*> pending = {&dataSet};
  while (!pending.empty()) {
    DcmObj* current = pending.back();
    pending.pop_back();
    if (DcmTag* own = current->FindTag(0x0008, 0x0005)) {
      if (!TrimBlanks(own->Bytes()).empty()) StoreText(*own, "ISO_IR 192");
    }
    for (size_t i = 0; i < current->Count(); ++i) {
      if (DcmObj* nested = current->ObjAt(i)) pending.push_back(nested);
    }
  }
}

std::string EncodeObjectTexts(DcmObj& dataSet) {
  TextRepertoire needed = TextRepertoire::Ascii;
  auto survey = [&needed](DcmTag& tag, std::string_view) {
    if (!IsValidUtf8(tag.Bytes())) StoreText(tag, Cp1252BytesToUtf8(tag.Bytes()));
    const TextRepertoire own = RepertoireOf(tag.Bytes());
    if (own > needed) needed = own;
  };
  ForEachText(dataSet, "", survey);
  if (needed == TextRepertoire::Ascii) return "";
  if (needed == TextRepertoire::Latin1) {
    auto narrow = [](DcmTag& tag, std::string_view) {
      if (RepertoireOf(tag.Bytes()) == TextRepertoire::Ascii) return;
      // The padding of the UTF-8 value goes first, so the value gets the length (and padding)
      // it would have had, had it been written in ISO 8859-1 from the start; trailing blanks
      // carry no meaning in these values.
      std::string_view utf8 = tag.Bytes();
      while (!utf8.empty() && utf8.back() == ' ') utf8.remove_suffix(1);
      std::string latin1;
      Utf8ToLatin1(utf8, latin1);
      StoreText(tag, std::move(latin1));
    };
    ForEachText(dataSet, "", narrow);
    dataSet.AddString(0x0008, 0x0005, "ISO_IR 100");
    return "ISO_IR 100";
  }
  dataSet.AddString(0x0008, 0x0005, "ISO_IR 192");
  return "ISO_IR 192";
}
