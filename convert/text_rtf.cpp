// The RTF reader: control words, groups, escapes and skipped destinations, one line per paragraph,
// in UTF-8 (\uN, and the code pages of \ansicpg and of the fonts' \fcharset).
#include <algorithm>
#include <cstdint>
#include <map>
#include <string_view>
#include <vector>

#include "charset.h"
#include "codepage.h"
#include "sourcefile.h"
#include "textreaders.h"

namespace {

// Word nests a few dozen groups at most; a deeper file is corrupt or hostile, and the cap keeps the
// group stack small.
constexpr size_t kDeepestGroup = 4096;
// RTF allows at most 32 letters in a control word and 10 digits in its parameter; longer runs
// are still consumed as one token but not taken apart further.
constexpr size_t kLongestControlWord = 32;

// Groups whose text is not part of the document's body text: tables of fonts, colours, styles and
// lists, document information, pictures and objects, headers and footers, footnotes, field
// instructions (their result stays), list numbers and revision data.
constexpr std::string_view kSkippedDestinations[] = {
    "annotation",
    "atnauthor",
    "atnid",
    "author",
    "bkmkend",
    "bkmkstart",
    "colortbl",
    "comment",
    "datastore",
    "docvar",
    "falt",
    "fldinst",
    "filetbl",
    "footer",
    "footerf",
    "footerl",
    "footerr",
    "footnote",
    "ftncn",
    "ftnsep",
    "ftnsepc",
    "generator",
    "header",
    "headerf",
    "headerl",
    "headerr",
    "info",
    "keywords",
    "latentstyles",
    "levelnumbers",
    "leveltext",
    "listname",
    "listoverridetable",
    "listtable",
    "listtext",
    "nonshppict",
    "object",
    "objdata",
    "operator",
    "pgdsctbl",
    "pict",
    "pn",
    "pntext",
    "pntxta",
    "pntxtb",
    "private",
    "revtbl",
    "rsidtbl",
    "shpinst",
    "sp",
    "stylesheet",
    "subject",
    "template",
    "themedata",
    "title",
    "txe",
    "xe",
    "tc",
    "userprops",
    "xmlnstbl",
    "colorschememapping",
    "mmathPr",
    "wgrffmtfilter",
    "passwordhash",
    "company",
};

// Characters that RTF writes as control words, in UTF-8.
struct SpecialCharacter {
  std::string_view word;
  std::string_view character;
};
constexpr SpecialCharacter kSpecialCharacters[] = {
    {"tab", "\t"},           {"cell", "\t"},       {"nestcell", "\t"},   {"emdash", "\u2014"},
    {"endash", "\u2013"},    {"emspace", " "},     {"enspace", " "},     {"qmspace", " "},
    {"bullet", "\u2022"},    {"lquote", "\u2018"}, {"rquote", "\u2019"}, {"ldblquote", "\u201C"},
    {"rdblquote", "\u201D"},
};

constexpr std::string_view kReplacementCharacter = "\uFFFD";
constexpr std::string_view kNoBreakSpace = "\u00A0";

// Control words that end a line of the plain text.
constexpr std::string_view kLineBreaks[] = {"par", "sect", "line", "row", "page"};

bool IsLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Fonts a document may define with their own charset; more are ignored.
constexpr size_t kMostFonts = 4096;

// The Windows code page of a font charset; 0 for the document's own (ANSI, default, symbol).
int CodePageOfCharset(int charset) {
  switch (charset) {
    case 77:
      return 10000;
    case 128:
      return 932;
    case 129:
      return 949;
    case 134:
      return 936;
    case 136:
      return 950;
    case 161:
      return 1253;
    case 162:
      return 1254;
    case 163:
      return 1258;
    case 177:
      return 1255;
    case 178:
      return 1256;
    case 186:
      return 1257;
    case 204:
      return 1251;
    case 222:
      return 874;
    case 238:
      return 1250;
    case 255:
      return 850;
    default:
      return 0;
  }
}

class RtfReader {
 public:
  explicit RtfReader(std::string_view rtf) : rtf_(rtf) {}

  bool Read(std::string& text, std::string& problem) {
    if (!SkipToStart()) {
      problem = "it does not start with \"{\\rtf\" (not a rich text document)";
      return false;
    }
    while (at_ < rtf_.size()) {
      const char c = rtf_[at_];
      if (c == '{') {
        if (groups_.size() >= kDeepestGroup) {
          problem = "its groups nest deeper than " + std::to_string(kDeepestGroup) + " levels";
          return false;
        }
        groups_.push_back(groups_.empty() ? Group{} : groups_.back());
        pendingFallback_ = 0;
        ++at_;
      } else if (c == '}') {
        groups_.pop_back();
        pendingFallback_ = 0;
        ++at_;
        // Whatever follows the document's outermost group is not part of it.
        if (groups_.empty()) break;
      } else if (c == '\\') {
        if (!ReadControl(problem)) return false;
      } else if (c == '\r' || c == '\n') {
        ++at_;  // line breaks in the file only wrap the source; paragraphs are \par
      } else {
        EmitByte(static_cast<uint8_t>(c));
        ++at_;
      }
    }
    EndUnpairedSurrogate();
    FlushBytes();
    if (!groups_.empty()) {
      problem = "its groups are not balanced: the file ends with " +
                std::to_string(groups_.size()) + " group(s) still open (truncated?)";
      return false;
    }
    text = std::move(out_);
    return true;
  }

 private:
  struct Group {
    bool skipped = false;
    bool fontTable = false;  // inside \fonttbl, where \fN and \fcharsetN define fonts
    int fallbackLength = 1;  // \ucN: characters that follow each \uN for readers without Unicode
    int font = -1;           // \fN: the current font; -1 for the document's default font
  };

  bool SkipToStart() {
    if (rtf_.substr(0, 3) == "\xEF\xBB\xBF") at_ = 3;
    while (at_ < rtf_.size() &&
           (rtf_[at_] == ' ' || rtf_[at_] == '\t' || rtf_[at_] == '\r' || rtf_[at_] == '\n')) {
      ++at_;
    }
    return rtf_.substr(at_, 5) == "{\\rtf";
  }

  bool Skipping() const { return groups_.empty() || groups_.back().skipped; }

  // The characters that stand in for a \uN are dropped as they come; each counts as one.
  bool TakeFallback() {
    if (pendingFallback_ == 0) return false;
    --pendingFallback_;
    return true;
  }

  // Bytes are gathered while they stay in one code page and decoded together, so the two bytes
  // of a double-byte character (\\'82\\'a0 in Japanese) arrive as one.
  void EmitByte(uint8_t byte) {
    if (TakeFallback() || Skipping() || byte == 0) return;
    EndUnpairedSurrogate();
    const int codePage = CodePageOfCurrentFont();
    if (!pendingBytes_.empty() && codePage != pendingCodePage_) FlushBytes();
    pendingCodePage_ = codePage;
    pendingBytes_ += static_cast<char>(byte);
  }

  void FlushBytes() {
    if (pendingBytes_.empty()) return;
    out_ += CodePageToUtf8(pendingCodePage_, pendingBytes_);
    pendingBytes_.clear();
  }

  // A font with its own charset (Central European, Cyrillic, Greek ...) gives its bytes in that
  // charset's code page; other fonts use the document's.
  int CodePageOfCurrentFont() const {
    const int font =
        groups_.empty() || groups_.back().font < 0 ? defaultFont_ : groups_.back().font;
    const auto charset = fontCharsets_.find(font);
    if (charset == fontCharsets_.end()) return codePage_;
    const int codePage = CodePageOfCharset(charset->second);
    return codePage == 0 ? codePage_ : codePage;
  }

  void EmitCharacter(std::string_view character) {
    if (TakeFallback() || Skipping()) return;
    EndUnpairedSurrogate();
    FlushBytes();
    out_ += character;
  }

  void EmitLineBreak() {
    if (Skipping()) return;
    EndUnpairedSurrogate();
    FlushBytes();
    out_ += "\r\n";
  }

  // A high surrogate whose partner did not come next stands for no character.
  void EndUnpairedSurrogate() {
    if (highSurrogate_ == 0) return;
    highSurrogate_ = 0;
    FlushBytes();
    out_ += kReplacementCharacter;
  }

  bool ReadControl(std::string& problem) {
    ++at_;                                // the backslash
    if (at_ >= rtf_.size()) return true;  // the open groups report the truncation
    const char c = rtf_[at_];
    if (IsLetter(c)) return ReadControlWord(problem);
    ++at_;
    switch (c) {
      case '\'': {
        // \'hh: one byte in the document's code page.
        const int high = at_ < rtf_.size() ? HexValue(rtf_[at_]) : -1;
        const int low = at_ + 1 < rtf_.size() ? HexValue(rtf_[at_ + 1]) : -1;
        if (high < 0 || low < 0) {
          EmitCharacter(kReplacementCharacter);
          return true;
        }
        at_ += 2;
        EmitByte(static_cast<uint8_t>(high * 16 + low));
        return true;
      }
      case '*':
        if (!groups_.empty()) groups_.back().skipped = true;
        return true;
      case '\\':
      case '{':
      case '}':
        EmitCharacter(std::string_view(&rtf_[at_ - 1], 1));
        return true;
      case '~':
        EmitCharacter(kNoBreakSpace);
        return true;
      case '_':
        EmitCharacter("-");
        return true;
      case '\r':
      case '\n':
        EmitLineBreak();
        return true;
      default:
        // \- (optional hyphen), \| and \: (index entries) and unknown symbols add nothing.
        TakeFallback();
        return true;
    }
  }

  bool ReadControlWord(std::string& problem) {
    const size_t start = at_;
    while (at_ < rtf_.size() && IsLetter(rtf_[at_])) ++at_;
    const std::string_view word = rtf_.substr(start, std::min(at_ - start, kLongestControlWord));
    bool hasParameter = false;
    int64_t parameter = 0;
    bool negative = false;
    if (at_ + 1 < rtf_.size() && rtf_[at_] == '-' && IsDigit(rtf_[at_ + 1])) {
      negative = true;
      ++at_;
    }
    while (at_ < rtf_.size() && IsDigit(rtf_[at_])) {
      hasParameter = true;
      // Clamped well inside 64 bits; only the low 16 or 32 bits of any parameter matter.
      if (parameter < 0x7FFFFFFFFF) parameter = parameter * 10 + (rtf_[at_] - '0');
      ++at_;
    }
    if (negative) parameter = -parameter;
    if (at_ < rtf_.size() && rtf_[at_] == ' ') ++at_;  // the delimiting space belongs to the word
    return ControlWord(word, hasParameter, parameter, problem);
  }

  bool ControlWord(std::string_view word, bool hasParameter, int64_t parameter,
                   std::string& problem) {
    if (word == "bin") {
      // Binary data of the given length follows; it is never text.
      const int64_t length = hasParameter ? parameter : 0;
      if (length < 0 || static_cast<uint64_t>(length) > rtf_.size() - at_) {
        problem = "a \\bin block runs past the end of the file";
        return false;
      }
      at_ += static_cast<size_t>(length);
      TakeFallback();
      return true;
    }
    if (word == "u") return UnicodeCharacter(hasParameter ? parameter : 0);
    if (TakeFallback()) return true;
    if (groups_.empty()) return true;
    Group& group = groups_.back();
    const int number = static_cast<int>(std::clamp<int64_t>(parameter, -1, 0x7FFFFFFF));
    if (group.fontTable) {
      if (word == "f" && hasParameter) definingFont_ = number;
      if (word == "fcharset" && hasParameter && fontCharsets_.size() < kMostFonts) {
        fontCharsets_[definingFont_] = number;
      }
      return true;
    }
    if (word == "fonttbl") {
      group.skipped = true;
      group.fontTable = true;
    } else if (word == "f" && hasParameter) {
      group.font = number;
    } else if (word == "deff" && hasParameter) {
      defaultFont_ = number;
    } else if (std::find(std::begin(kSkippedDestinations), std::end(kSkippedDestinations), word) !=
               std::end(kSkippedDestinations)) {
      group.skipped = true;
    } else if (word == "uc") {
      group.fallbackLength = static_cast<int>(std::clamp<int64_t>(parameter, 0, 16));
    } else if (word == "ansicpg" && hasParameter) {
      UseCodePage(static_cast<int>(std::clamp<int64_t>(parameter, 0, 65535)));
    } else if (word == "mac") {
      UseCodePage(10000);
    } else if (word == "pc") {
      UseCodePage(437);
    } else if (word == "pca") {
      UseCodePage(850);
    } else if (std::find(std::begin(kLineBreaks), std::end(kLineBreaks), word) !=
               std::end(kLineBreaks)) {
      EmitLineBreak();
    } else {
      for (const SpecialCharacter& special : kSpecialCharacters) {
        if (special.word == word) EmitCharacter(special.character);
      }
    }
    return true;
  }

  void UseCodePage(int codePage) { codePage_ = codePage; }

  // \uN: a UTF-16 code unit as a signed 16-bit number, followed by \ucN fallback characters for
  // readers without Unicode. The unit itself is the character; the fallback is always skipped,
  // because it is written in whatever charset the current font has. Two \uN holding a surrogate
  // pair make one character; a surrogate without its partner becomes U+FFFD.
  bool UnicodeCharacter(int64_t parameter) {
    const auto unit = static_cast<char32_t>(static_cast<uint16_t>(parameter & 0xFFFF));
    const bool high = unit >= 0xD800 && unit <= 0xDBFF;
    const bool low = unit >= 0xDC00 && unit <= 0xDFFF;
    pendingFallback_ = 0;
    if (Skipping()) {
      highSurrogate_ = 0;
    } else if (low && highSurrogate_ != 0) {
      std::string character;
      AppendCodePoint(character, 0x10000 + ((highSurrogate_ - 0xD800) << 10) + (unit - 0xDC00));
      highSurrogate_ = 0;
      EmitCharacter(character);
    } else {
      EndUnpairedSurrogate();
      if (high) {
        highSurrogate_ = unit;
      } else {
        std::string character;
        AppendCodePoint(character, low ? 0xFFFD : unit);
        EmitCharacter(character);
      }
    }
    pendingFallback_ = groups_.empty() ? 1 : groups_.back().fallbackLength;
    return true;
  }

  std::string_view rtf_;
  size_t at_ = 0;
  std::vector<Group> groups_;
  std::string out_;
  int codePage_ = 1252;  // the document's code page (\ansicpg)
  std::string pendingBytes_;
  int pendingCodePage_ = 1252;
  std::map<int, int> fontCharsets_;  // font number to \fcharset
  int definingFont_ = -1;
  int defaultFont_ = 0;
  int pendingFallback_ = 0;
  char32_t highSurrogate_ = 0;  // the first half of a pair whose second half is awaited
};

}  // namespace

bool RtfToPlainText(std::string_view rtf, std::string& text, std::string& problem) {
  text.clear();
  RtfReader reader(rtf);
  return reader.Read(text, problem);
}

bool ReadRtfText(const std::string& path, std::string& text, std::string& error) {
  text.clear();
  SourceBytes source;
  if (!ReadSourceFile(path, source, error)) return false;
  const std::string_view rtf(reinterpret_cast<const char*>(source.bytes.get()),
                             static_cast<size_t>(source.fileLength));
  std::string problem;
  if (!RtfToPlainText(rtf, text, problem)) {
    error = "Cannot read RTF document \"" + path + "\": " + problem;
    return false;
  }
  return true;
}
